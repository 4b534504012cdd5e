import os
import sys

import pytest

# From a build tree (PYTHONPATH=<build>/python) or an installed package.
import velfile  # noqa: F401


@pytest.fixture
def path(tmp_path):
    """A fresh file name, closed files only left behind."""
    return str(tmp_path / "test.A01")


def pytest_report_header(config):
    return f"velfile {velfile.__version__} from {os.path.dirname(velfile.__file__)}, Python {sys.version.split()[0]}"
