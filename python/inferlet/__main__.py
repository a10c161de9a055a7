"""python -m inferlet: see inferlet._cli."""

import sys

from ._cli import main

sys.exit(main())
