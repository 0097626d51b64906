"""Shared inputs of the module's tests: the bundled scans, the aligner program, small shapes."""

import os
import pathlib

import numpy as np
import pytest

import kestrel

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
P_FILE = str(EXAMPLES / "bun000.vrt")
Q_FILE = str(EXAMPLES / "bun045.vrt")


@pytest.fixture(scope="session")
def aligner():
    path = os.environ.get("KESTREL_ALIGN")
    assert path and os.access(path, os.X_OK), "KESTREL_ALIGN must name the kestrel-align program"
    return path


@pytest.fixture(scope="session")
def bunny():
    """The bundled pair as arrays, read once."""
    return kestrel.read_points(P_FILE), kestrel.read_points(Q_FILE)


def bumpy_surface(n=40, h=1.0):
    """An n x n height field with bumps in both directions, so that no two bases look alike."""
    i, j = np.meshgrid(np.arange(n) * h, np.arange(n) * h, indexing="ij")
    z = 3 * np.sin(i / 5.0) * np.cos(j / 7.0) + 0.05 * i * j / n
    return np.column_stack([i.ravel(), j.ravel(), z.ravel()])


def rotation_z(deg):
    a = np.radians(deg)
    return np.array([[np.cos(a), -np.sin(a), 0], [np.sin(a), np.cos(a), 0], [0, 0, 1]])
