import pytest

from tarnwick import _tarnwick


@pytest.fixture(scope="session")
def tw():
    """The compiled module under test."""
    return _tarnwick
