import pickle


def load(blob):
    return pickle.loads(blob)


MESSAGE = "this line is far too long for the configured limit of eighty-eight characters, so it is flagged"
