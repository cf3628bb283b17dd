"""Directives over SARIF 2.1.0 logs: the mapping of a result to a target
(`target`), the fold of a log (`fold`), exact reading and writing (`log`),
what the command says afterwards (`summary`), baselines (`baseline`), the
identity of a finding across logs (`identity`) and files renamed since a
baseline was made (`renames`).

Nothing here imports the command-line plumbing; `tarnwick.commands` does the
reverse.
"""

from tarnwick.sarif.fold import DEFAULT_JUSTIFICATION, Fold, RunTally, fold_log, fold_result, gate
from tarnwick.sarif.log import DUMP_SETTINGS, Obj, SarifError, load_log
from tarnwick.sarif.log import dumps as dump_log
from tarnwick.sarif.target import (
    LEVEL_OF_SEVERITY,
    SEVERITY_OF_LEVEL,
    Targets,
    uri_to_scope,
)

__all__ = [
    "DEFAULT_JUSTIFICATION",
    "DUMP_SETTINGS",
    "LEVEL_OF_SEVERITY",
    "SEVERITY_OF_LEVEL",
    "Fold",
    "Obj",
    "RunTally",
    "SarifError",
    "Targets",
    "dump_log",
    "fold_log",
    "fold_result",
    "gate",
    "load_log",
    "uri_to_scope",
]
