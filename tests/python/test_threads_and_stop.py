"""Runs leave the GIL to other threads, and a time limit or Ctrl-C ends them with the best so far."""

import os
import signal
import threading
import time

import numpy as np
import pytest

import kestrel

# A Q that is a tenth of a scan lost in a cloud of random points: no motion brings 10% of it onto
# P, so with that as the expected overlap the run goes on for minutes; the first motion that
# fits a little comes within 80 trials (a fraction of a second).
ENDLESS = {"any_pose": False, "icp": True, "overlap": 0.1}


@pytest.fixture(scope="module")
def endless(bunny):
    p, q = bunny
    rng = np.random.default_rng(7)
    centre, span = p.mean(axis=0), p.max(axis=0) - p.min(axis=0)
    cloud = centre + rng.uniform(-2.5, 2.5, size=(20000, 3)) * span
    return p, np.vstack([q[::10], cloud])


def test_another_thread_runs_while_align_works(endless):
    counted = [0]
    done = threading.Event()

    # Each step needs the GIL; the sleeps keep the thread from taking a core from other tests.
    def count():
        while not done.is_set():
            counted[0] += 1
            time.sleep(0.001)

    worker = threading.Thread(target=count)
    worker.start()
    try:
        before = counted[0]
        kestrel.align(*endless, max_seconds=1.0, **ENDLESS)
        during = counted[0] - before
    finally:
        done.set()
        worker.join()
    assert during > 200  # about 1000 when the GIL is free for the whole second


def test_max_seconds_stops_the_run_with_the_best_motion_so_far(endless):
    start = time.monotonic()
    r = kestrel.align(*endless, max_seconds=2.0, **ENDLESS)
    assert time.monotonic() - start < 3.0
    assert r.stopped and r.icp_error is None  # a stopped run is not refined
    assert 0 < r.best_lcp < 0.1 and r.trials > 1
    assert not np.array_equal(r.matrix, np.eye(4))


def test_ctrl_c_stops_the_run_and_returns(endless):
    timer = threading.Timer(1.0, os.kill, (os.getpid(), signal.SIGINT))
    start = time.monotonic()
    timer.start()
    try:
        r = kestrel.align(*endless, **ENDLESS)
    finally:
        timer.cancel()
    assert time.monotonic() - start < 4.0
    assert r.stopped and r.icp_error is None


def test_other_exceptions_from_signal_handlers_propagate(endless):
    class Custom(Exception):
        pass

    def handler(signum, frame):
        raise Custom()

    previous = signal.signal(signal.SIGUSR1, handler)
    timer = threading.Timer(1.0, os.kill, (os.getpid(), signal.SIGUSR1))
    try:
        timer.start()
        with pytest.raises(Custom):
            kestrel.align(*endless, **ENDLESS)
    finally:
        timer.cancel()
        signal.signal(signal.SIGUSR1, previous)


def test_calls_from_two_threads_take_turns_and_agree(bunny):
    results = [None, None]

    def run(k):
        results[k] = kestrel.align(*bunny, any_pose=False, icp=False).matrix

    threads = [threading.Thread(target=run, args=(k,)) for k in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    np.testing.assert_array_equal(results[0], results[1])
