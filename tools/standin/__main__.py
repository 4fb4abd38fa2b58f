"""Entry point: `python3 tools/standin [options]` (or `python3 -m standin` from tools/)."""

import os
import sys

if not __package__:
    # Started as a directory: import the folder as the package "standin", and
    # drop the folder itself from the path so its module names shadow nothing.
    here = os.path.dirname(os.path.abspath(__file__))
    sys.path[:] = [p for p in sys.path if os.path.abspath(p or ".") != here]
    sys.path.insert(0, os.path.dirname(here))
    from standin.main import main
else:
    from .main import main

sys.exit(main(sys.argv[1:]))
