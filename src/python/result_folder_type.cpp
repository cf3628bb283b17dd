// _ResultFolder(policy, qualifier, names, scope, tail, location): folds the
// results of one run that `read_simple_result` reads, chunk by chunk, and
// writes them (copied, or spliced when changed); it stops at the first
// result that needs the general fold, which the caller then does in Python.
//
// What a result's names, default level and scopes are stays in Python (the
// `names` and `scope` callbacks, asked once per rule and per artifact
// location and cached here), and so does what a changed result gets written
// into it (`tail`, asked once per distinct fold outcome, and `location`, the
// JSON of a suppression's location, asked once per directive file).
#include "python/result_folder_type.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/json_canonical.h"
#include "lint/lint_fold.h"
#include "lint/sarif_result.h"
#include "python/call.h"
#include "python/classes.h"
#include "python/convert.h"
#include "python/functions.h"
#include "python/policy_type.h"

namespace tarnwick::py {
namespace {

using lint::Severity;

constexpr std::array<std::string_view, 4> kLevels{"error", "warning", "note", "none"};
constexpr std::uint8_t kNone = 3;
constexpr std::size_t kMaxTails = 4096;  // distinct fold outcomes kept; then the cache starts over

std::optional<std::uint8_t> level_index(std::string_view level) {
  for (std::uint8_t i = 0; i < kLevels.size(); ++i) {
    if (kLevels[i] == level) return i;
  }
  return std::nullopt;
}

struct Named {
  std::vector<std::string> names;
  std::uint8_t default_level = 1;
};

struct FolderValue {
  Ref policy, names_fn, scope_fn, tail_fn, location_fn;  // location_fn: null when suppressions get none
  std::string qualifier;
  std::unordered_map<std::string, Named> named;                      // by rule id and index
  std::unordered_map<std::string, std::optional<std::string>> scopes;  // by artifact location
  std::unordered_map<std::string, std::string> tails;                // by fold outcome
  std::unordered_map<std::string, std::pair<std::string, std::string>> locations;  // by directive file
  // Room reused from one result to the next.
  lint::SimpleResult scratch;
  std::string key, joined;
  json::CanonicalScratch canonical;
  std::vector<std::string_view> name_views, scope_views;
  bool busy = false;  // a callback may call back in: refused
};

FolderValue& value_of(PyObject* self) { return reinterpret_cast<Boxed<FolderValue>*>(self)->value; }

// Keys: each part with its length in front, so that no two differ only in where parts end.
void put(std::string& key, const std::optional<std::int64_t>& number) {
  if (number) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, *number).ptr;
    key.append(digits, end);
  } else {
    key += '-';
  }
  key += ';';
}

void put(std::string& key, std::string_view part) {
  put(key, std::optional<std::int64_t>(static_cast<std::int64_t>(part.size())));
  key += part;
}

PyObject* new_index(const std::optional<std::int64_t>& index) {
  return index ? PyLong_FromLongLong(*index) : Py_NewRef(Py_None);
}

PyObject* new_text_or_none(const std::optional<std::string_view>& text) { return new_str_or_none(text); }

// Raises TypeError unless an error is already set (by a conversion); false.
bool wrong_return(const char* what) {
  if (PyErr_Occurred()) return false;
  PyErr_Format(PyExc_TypeError, "_ResultFolder: the %s callback returned the wrong type", what);
  return false;
}

// An exact str as UTF-8, copied.
bool copy_str(PyObject* obj, std::string& out) {
  if (!PyUnicode_CheckExact(obj)) return false;
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(obj, &size);
  if (text == nullptr) return false;
  out.assign(text, static_cast<std::size_t>(size));
  return true;
}

// Exact bytes, copied.
bool copy_bytes(PyObject* obj, std::string& out) {
  char* bytes = nullptr;
  Py_ssize_t size = 0;
  if (!PyBytes_CheckExact(obj) || PyBytes_AsStringAndSize(obj, &bytes, &size) < 0) return false;
  out.assign(bytes, static_cast<std::size_t>(size));
  return true;
}

// The rule's names and default level: names(rule_id, rule_index) -> (names, level).
const Named* named_of(FolderValue& v, const lint::SimpleResult& r) {
  std::string& key = v.key;
  key.clear();
  put(key, r.rule_id);
  put(key, r.rule_index);
  if (auto found = v.named.find(key); found != v.named.end()) return &found->second;
  Ref rid(new_str(r.rule_id));
  Ref index(rid ? new_index(r.rule_index) : nullptr);
  Ref got(index ? PyObject_CallFunctionObjArgs(v.names_fn.get(), rid.get(), index.get(), nullptr) : nullptr);
  if (!got) return nullptr;
  Named named;
  std::string level;
  PyObject* names = PyTuple_CheckExact(got.get()) && PyTuple_Size(got.get()) == 2
                        ? PyTuple_GetItem(got.get(), 0)  // owned by `got`; a tuple stays as it is
                        : nullptr;
  bool ok = names != nullptr && PyTuple_CheckExact(names) && copy_str(PyTuple_GetItem(got.get(), 1), level) &&
            level_index(level);
  for (Py_ssize_t i = 0; ok && i < PyTuple_Size(names); ++i) {
    ok = copy_str(PyTuple_GetItem(names, i), named.names.emplace_back());
  }
  if (!ok) return wrong_return("names"), nullptr;
  named.default_level = *level_index(level);
  return &v.named.emplace(key, std::move(named)).first->second;
}

// The scope of an artifact location: scope(uri, uri_base_id, index) -> () or (scope,).
const std::optional<std::string>* scope_of(FolderValue& v, const lint::ArtifactRef& a) {
  std::string& key = v.key;
  key.clear();
  key += a.uri ? 'u' : '-';
  put(key, a.uri.value_or(""));
  key += a.uri_base_id ? 'b' : '-';
  put(key, a.uri_base_id.value_or(""));
  put(key, a.index);
  if (auto found = v.scopes.find(key); found != v.scopes.end()) return &found->second;
  Ref uri(new_text_or_none(a.uri));
  Ref base(uri ? new_text_or_none(a.uri_base_id) : nullptr);
  Ref index(base ? new_index(a.index) : nullptr);
  Ref got(index ? PyObject_CallFunctionObjArgs(v.scope_fn.get(), uri.get(), base.get(), index.get(), nullptr)
                : nullptr);
  if (!got) return nullptr;
  std::optional<std::string> scope;
  const Py_ssize_t size = PyTuple_CheckExact(got.get()) ? PyTuple_Size(got.get()) : -1;
  const bool ok = size == 0 || (size == 1 && copy_str(PyTuple_GetItem(got.get(), 0), scope.emplace()));
  if (!ok) return wrong_return("scope"), nullptr;
  return &v.scopes.emplace(key, std::move(scope)).first->second;
}

// The members that a changed result gets: tail(level, new, dropped, notes) -> bytes.
const std::string* tail_of(FolderValue& v, std::uint8_t level, const lint::Folded& folded) {
  std::string& key = v.key;
  key.clear();
  key += static_cast<char>('0' + level);
  key += static_cast<char>('0' + static_cast<int>(folded.severity));
  key += folded.dropped ? 'd' : 'k';
  for (std::string_view note : folded.notes) put(key, note);
  if (auto found = v.tails.find(key); found != v.tails.end()) return &found->second;
  if (v.tails.size() >= kMaxTails) v.tails.clear();
  Ref level_text(new_str(kLevels[level]));
  Ref severity(level_text ? severity_str(folded.severity) : nullptr);
  Ref notes(severity ? new_str_list(folded.notes) : nullptr);
  Ref got(notes ? PyObject_CallFunctionObjArgs(v.tail_fn.get(), level_text.get(), severity.get(),
                                               folded.dropped ? Py_True : Py_False, notes.get(), nullptr)
                : nullptr);
  if (!got) return nullptr;
  std::string tail;
  if (!copy_bytes(got.get(), tail)) return wrong_return("tail"), nullptr;
  return &v.tails.emplace(key, std::move(tail)).first->second;
}

// The `location` of a suppression written by the directive at `origin`:
// location(file) -> (the JSON before its line number, the JSON after it).
bool append_location(FolderValue& v, const lint::Origin& origin, std::string& out) {
  auto found = v.locations.find(origin.file);
  if (found == v.locations.end()) {
    Ref file(new_str(origin.file));
    Ref got(file ? PyObject_CallFunctionObjArgs(v.location_fn.get(), file.get(), nullptr) : nullptr);
    if (!got) return false;
    std::pair<std::string, std::string> parts;
    if (!PyTuple_CheckExact(got.get()) || PyTuple_Size(got.get()) != 2 ||
        !copy_bytes(PyTuple_GetItem(got.get(), 0), parts.first) ||
        !copy_bytes(PyTuple_GetItem(got.get(), 1), parts.second)) {
      return wrong_return("location");
    }
    found = v.locations.emplace(origin.file, std::move(parts)).first;
  }
  out += found->second.first;
  out += std::to_string(origin.line);
  out += found->second.second;
  return true;
}

// One element of the chunk's list: (index, start, end, plain), read afresh each time.
bool element_at(PyObject* elements, Py_ssize_t k, std::size_t size, std::size_t& start, std::size_t& end,
                bool& plain) {
  Ref item = Ref::borrow(PyList_GetItem(elements, k));
  if (!item) return false;
  if (!PyTuple_CheckExact(item.get()) || PyTuple_Size(item.get()) != 4) {
    PyErr_SetString(PyExc_TypeError, "_ResultFolder.fold: an element is not (index, start, end, plain)");
    return false;
  }
  const Py_ssize_t s = PyLong_AsSsize_t(PyTuple_GetItem(item.get(), 1));
  const Py_ssize_t e = s < 0 ? -1 : PyLong_AsSsize_t(PyTuple_GetItem(item.get(), 2));
  if (e < s || static_cast<std::size_t>(e) > size) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "_ResultFolder.fold: an element is out of bounds");
    return false;
  }
  start = static_cast<std::size_t>(s);
  end = static_cast<std::size_t>(e);
  plain = PyTuple_GetItem(item.get(), 3) == Py_True;
  return true;
}

// The members of a changed result but `level`, as `json` writes them after
// the fold, up to where the fold's own members go: "{" or "{...,". False
// when a round trip through `json` would write them otherwise (the general
// fold then writes the result, so that folding its output again gives the
// same bytes).
bool compact_members(std::string_view text, const std::vector<lint::ByteSpan>& kept, FolderValue& v,
                     std::string& out) {
  std::string& joined = v.joined;
  joined.assign(1, '{');
  for (const lint::ByteSpan& member : kept) {
    if (joined.size() > 1) joined += ',';
    joined.append(text.substr(member.start, member.end - member.start));
  }
  joined += '}';
  out.clear();
  if (!json::append_canonical(joined, out, v.canonical)) return false;
  out.back() = ',';
  if (out.size() == 2) out.pop_back();  // no members: "{"
  return true;
}

enum class Outcome : std::uint8_t { kCopied, kSpliced, kStop, kFailed };

struct Counts {
  std::uint64_t dropped = 0, up = 0, down = 0, annotated = 0;
  std::array<std::uint64_t, lint::kSeverityCount> remaining{};
};

// The fold of one result; `spliced` gets its new text when it changed.
Outcome fold_one(FolderValue& v, std::string_view text, unsigned keeping, Counts& counts, std::string& spliced) {
  lint::SimpleResult& r = v.scratch;
  if (!lint::read_simple_result(text, r)) return Outcome::kStop;
  const Named* named = named_of(v, r);
  if (named == nullptr) return Outcome::kFailed;
  std::uint8_t level = named->default_level;
  if (r.level) {
    level = *level_index(*r.level);
  } else if (r.kind && *r.kind != "fail") {
    level = kNone;
  }
  if (level == kNone) return Outcome::kCopied;
  std::vector<std::string_view>& scopes = v.scope_views;
  scopes.clear();
  for (const auto& location : r.locations) {
    if (!location) continue;
    const std::optional<std::string>* scope = scope_of(v, *location);
    if (scope == nullptr) return Outcome::kFailed;
    if (*scope && std::find(scopes.begin(), scopes.end(), **scope) == scopes.end()) scopes.push_back(**scope);
  }
  std::vector<std::string_view>& names = v.name_views;
  names.assign(named->names.begin(), named->names.end());
  const auto severity = static_cast<Severity>(level);
  const lint::Origin* dropped_by = nullptr;
  const lint::Folded folded = lint_policy_fold(v.policy.get(), severity, names, v.qualifier, scopes, dropped_by);
  const bool changed = folded.severity != severity || folded.dropped || !folded.notes.empty();
  if (!folded.dropped && (keeping >> static_cast<unsigned>(folded.severity) & 1u)) return Outcome::kStop;
  if (changed && r.has_properties) return Outcome::kStop;  // its properties get merged: Python does it
  if (!changed) {
    if (!folded.dropped) ++counts.remaining[static_cast<std::size_t>(folded.severity)];
    return Outcome::kCopied;
  }
  if (!compact_members(text, r.kept, v, spliced)) return Outcome::kStop;
  const std::string* tail = tail_of(v, level, folded);
  if (tail == nullptr) return Outcome::kFailed;
  if (folded.dropped && v.location_fn && dropped_by != nullptr) {
    // The suppression tarnwick adds is the tail's last member, its location that entry's last.
    if (!tail->ends_with("}]")) return Outcome::kStop;
    spliced.append(*tail, 0, tail->size() - 2);
    spliced += R"(,"location":)";
    if (!append_location(v, *dropped_by, spliced)) return Outcome::kFailed;
    spliced += "}]";
  } else {
    spliced += *tail;
  }
  spliced += '}';
  if (folded.dropped) {
    ++counts.dropped;
  } else {
    ++counts.remaining[static_cast<std::size_t>(folded.severity)];
    ++(folded.severity < severity ? counts.up : folded.severity > severity ? counts.down : counts.annotated);
  }
  return Outcome::kSpliced;
}

Signature kNew{"_ResultFolder", {"policy", "qualifier", "names", "scope", "tail", "location"}};

PyObject* folder_new(PyObject* type, Call& call) {
  PyObject* policy = call.object(0);
  std::string_view qualifier;
  if (!call.text(1, qualifier)) return nullptr;
  if (!is_lint_policy(policy)) {
    PyErr_SetString(PyExc_ValueError, "_ResultFolder: the policy must fold the lint verbs, without root");
    return nullptr;
  }
  PyObject* location = call.object(5);
  for (std::size_t i = 2; i < 6; ++i) {
    if (!PyCallable_Check(call.object(i)) && !(i == 5 && location == Py_None)) {
      call.wrong_type(i, "callable", call.object(i));
      return nullptr;
    }
  }
  FolderValue value;
  value.policy = Ref::borrow(policy);
  value.qualifier = std::string(qualifier);
  value.names_fn = Ref::borrow(call.object(2));
  value.scope_fn = Ref::borrow(call.object(3));
  value.tail_fn = Ref::borrow(call.object(4));
  value.location_fn = location == Py_None ? Ref() : Ref::borrow(location);
  return new_boxed<FolderValue>(type, std::move(value));
}

Signature kFold{"_ResultFolder.fold", {"data", "elements", "start", "keeping"}};

PyObject* counts_tuple(const Counts& c) {
  return Py_BuildValue("(KKKKKKK)", static_cast<unsigned long long>(c.dropped),
                       static_cast<unsigned long long>(c.up), static_cast<unsigned long long>(c.down),
                       static_cast<unsigned long long>(c.annotated),
                       static_cast<unsigned long long>(c.remaining[0]),
                       static_cast<unsigned long long>(c.remaining[1]),
                       static_cast<unsigned long long>(c.remaining[2]));
}

// Folds elements[start:] of a chunk up to the first that needs the general
// fold: (its position or len(elements), the text of those before it, counts).
PyObject* folder_fold(PyObject* self, Call& call) {
  PyObject* data = call.object(0);
  PyObject* elements = call.object(1);
  std::int32_t start = 0, keeping = 0;
  if (!PyBytes_CheckExact(data) || !PyList_CheckExact(elements)) {
    if (!PyBytes_CheckExact(data)) call.wrong_type(0, "bytes", data);
    else call.wrong_type(1, "list", elements);
    return nullptr;
  }
  if (!call.int32(2, start) || !call.int32(3, keeping)) return nullptr;
  FolderValue& v = value_of(self);
  if (v.busy) {
    PyErr_SetString(PyExc_RuntimeError, "_ResultFolder is already in use");
    return nullptr;
  }
  char* bytes = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(data, &bytes, &size) < 0) return nullptr;
  const std::string_view chunk(bytes, static_cast<std::size_t>(size));  // `data`, owned by the call
  Counts counts;
  std::string out, spliced;
  std::optional<std::pair<std::size_t, std::size_t>> copy;  // a run of results copied as they are
  auto flush = [&] {
    if (!copy) return;
    if (!out.empty()) out += ',';
    out.append(chunk.substr(copy->first, copy->second - copy->first));
    copy.reset();
  };
  v.busy = true;
  Py_ssize_t k = start < 0 ? 0 : start;
  Outcome outcome = Outcome::kCopied;
  for (; k < PyList_Size(elements); ++k) {  // the list may change in a callback: its size is read each time
    std::size_t s = 0, e = 0;
    bool plain = false;
    if (!element_at(elements, k, chunk.size(), s, e, plain)) {
      outcome = Outcome::kFailed;
      break;
    }
    outcome = plain ? fold_one(v, chunk.substr(s, e - s), static_cast<unsigned>(keeping), counts, spliced)
                    : Outcome::kStop;
    if (outcome == Outcome::kStop || outcome == Outcome::kFailed) break;
    if (outcome == Outcome::kCopied) {
      copy = copy ? std::pair(copy->first, e) : std::pair(s, e);
      continue;
    }
    flush();
    if (!out.empty()) out += ',';
    out += spliced;
  }
  v.busy = false;
  if (outcome == Outcome::kFailed) return nullptr;
  flush();
  Ref text(PyBytes_FromStringAndSize(out.data(), static_cast<Py_ssize_t>(out.size())));
  Ref tally(text ? counts_tuple(counts) : nullptr);
  return tally ? Py_BuildValue("(nOO)", k, text.get(), tally.get()) : nullptr;
}

PyMethodDef kMethods[] = {
    method_def<kFold, folder_fold>(
        "fold",
        "fold($self, data, elements, start, keeping)\n--\n\n"
        "Fold `elements[start:]` (`(index, start, end, plain)` spans of results in `data`) up to the\n"
        "first that needs the general fold: `(its position, the text of those before, counts)`,\n"
        "counts being `(dropped, up, down, annotated, *remaining per severity)`. A result that\n"
        "remains at a severity whose bit is set in `keeping` stops the fold too."),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>("_ResultFolder(policy, qualifier, names, scope, tail, location)\n--\n\n"
                                  "The fold of a run's results of the common shape (private: the SARIF "
                                  "reader's).")},
    {Py_tp_new, reinterpret_cast<void*>(new_entry<kNew, folder_new>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_boxed<FolderValue>)},
    {Py_tp_methods, kMethods},
    {0, nullptr},
};

PyType_Spec kSpec = boxed_spec<FolderValue>("builtins._ResultFolder", kSlots);

PyObject* g_type = nullptr;

}  // namespace

PyObject* result_folder_type() { return shared_type(g_type, &kSpec); }

}  // namespace tarnwick::py
