"""Test harness of Corvane·Stackhold (python3 standard library only).

Shared by the end-to-end scenarios (tests/e2e), the wrappers of Windows-side
tests (tests/win) and the main-job script (scripts/demo.sh). Import it with
tests/ on sys.path:  `from harness import Scenario, Nginx, HttpServer, ...`.
"""

from .driver import Driver, DriverError, Texts, control_id
from .httpserver import Body, Cut, Delayed, Drop, File, Fixed, HttpServer, NoLength, Once, Silent, Status
from .nginx import Nginx, kServicePort
from .pki import Pki, ensure_pki
from .prefix import (BuildTree, clone_prefix, ensure_base_prefix, ensure_template, install_standins,
                     map_drive, pe_machine, remove_prefix, run_wine, set_logpixels, set_windows_version, trust_test_ca,
                     unix_path, win_path, wine_env, wineserver_kill, wineserver_wait)
from .rig import EDITION_KEYS, PACKAGES, InstallRig
from .scenario import Scenario, px_of, px_rect
from .screen import Image, brighter_than, darker_than, near
from .util import (Deadline, HarnessError, Process, arm_deadline, file_lock, free_port, log, on_cleanup,
                   run, run_cleanups, wait_port, wait_until)
from .xvfb import Xvfb
