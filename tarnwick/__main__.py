"""``python -m tarnwick``: the ``tarnwick`` command line (see ``tarnwick.cli``)."""

import sys

from tarnwick.cli import main

__all__ = ["main"]

if __name__ == "__main__":
    sys.exit(main())
