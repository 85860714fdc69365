"""``python3 -m orvexa`` runs orvexa-cli."""

import sys

from .cli import main

sys.exit(main())
