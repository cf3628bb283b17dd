from app.core import evaluate


def check():
    assert evaluate("1 + 1") == 2
