"""Prints for the tests: real ones when present (ORVANE_DATA_DIR, or the
shared data folder beside the project), else synthetic ones from the orvane
program; the tests that need either skip without them."""
import json
import os
import pathlib
import shutil
import subprocess

import pytest

HERE = pathlib.Path(__file__).resolve().parent
SAMPLE = 12  # prints taken from the data, spread over every folder


def _data_dir():
    folder = os.environ.get("ORVANE_DATA_DIR") or str(HERE.parents[2] / "shared" / "data")
    return pathlib.Path(folder)


def _real_prints():
    folder = _data_dir()
    paths = sorted(folder.glob("*/*.bmp")) if folder.is_dir() else []
    step = max(1, len(paths) // SAMPLE)
    return paths[::step][:SAMPLE]


class Cli:
    """The orvane program (ORVANE_CLI, or the first on the PATH)."""

    def __init__(self, path):
        self.path = path

    def run(self, *args):
        done = subprocess.run([self.path, *map(str, args)], capture_output=True, text=True, check=True)
        return done.stdout

    def json(self, *args):
        return json.loads(self.run("--json", *args))


def _cli_path():
    return shutil.which(os.environ.get("ORVANE_CLI") or "orvane")


@pytest.fixture(scope="session")
def cli():
    path = _cli_path()
    if not path:
        pytest.skip("the orvane program is not available")
    return Cli(path)


@pytest.fixture(scope="session")
def real_prints():
    paths = _real_prints()
    if not paths:
        pytest.skip("no real prints")
    return paths


@pytest.fixture(scope="session")
def prints(tmp_path_factory):
    """Real prints, or synthetic ones made by the orvane program."""
    paths = _real_prints()
    if paths:
        return paths
    path = _cli_path()
    if not path:
        pytest.skip("neither real prints nor the orvane program to synthesise some")
    folder = tmp_path_factory.mktemp("synthetic")
    Cli(path).run("--quiet", "synth", folder, "--fingers", 4, "--impressions", 3, "--seed", 7)
    return sorted(folder.glob("*.bmp"))
