#!/usr/bin/env python3
"""The lab's host side leaves nothing behind when it is stopped: no machine, no unit, no folder.
Runs without a machine: a stand-in takes the emulator's place.

    test_harness.py BUILD_DIR
"""

import glob
import os
import signal
import subprocess
import sys
import tempfile
import textwrap
import time
import unittest

LAB = os.path.dirname(os.path.abspath(__file__))
BUILD = None


def alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().split(") ")[1][0] != "Z"
    except FileNotFoundError:
        return False


def wait_for(condition, limit=20.0):
    deadline = time.monotonic() + limit
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.02)
    return condition()


class Harness(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()
        self.pidfile = os.path.join(self.scratch.name, "pid")
        # Stands in for the emulator: says who it is and waits, serving nothing.
        self.fake = os.path.join(self.scratch.name, "fake-qemu")
        with open(self.fake, "w") as f:
            f.write("#!/bin/sh\necho $$ > %s\nexec sleep 60\n" % self.pidfile)
        os.chmod(self.fake, 0o755)
        self.children = []

    def tearDown(self):
        for pid in self.children:  # only what this test started, should a check have failed
            if alive(pid):
                os.kill(pid, signal.SIGKILL)
        self.scratch.cleanup()

    def start_lab(self):
        if os.path.exists(self.pidfile):
            os.unlink(self.pidfile)
        env = dict(os.environ, LAB_QEMU=self.fake)
        lab = subprocess.Popen([sys.executable, os.path.join(LAB, "lab.py"), BUILD],
                               env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.assertTrue(wait_for(lambda: os.path.getsize(self.pidfile) > 0
                                 if os.path.exists(self.pidfile) else False))
        with open(self.pidfile) as f:
            machine = int(f.read())
        self.children.append(machine)
        work = glob.glob(os.path.join(tempfile.gettempdir(), "vardelio-lab-%d-*" % lab.pid))
        self.assertEqual(len(work), 1)
        return lab, machine, work[0]

    def test_a_lab_told_to_stop_ends_its_machine_and_removes_its_folder(self):
        for number in (signal.SIGTERM, signal.SIGHUP):
            lab, machine, work = self.start_lab()
            lab.send_signal(number)
            self.assertEqual(lab.wait(10), 128 + number)
            self.assertTrue(wait_for(lambda: not alive(machine), 5), "the machine outlived it")
            self.assertFalse(os.path.exists(work))

    def test_a_lab_killed_outright_takes_its_machine_along_and_the_next_removes_its_folder(self):
        lab, machine, work = self.start_lab()
        lab.kill()
        lab.wait()
        self.assertTrue(wait_for(lambda: not alive(machine), 5), "the machine outlived it")
        self.assertTrue(os.path.exists(work))
        again, _, _ = self.start_lab()
        self.assertFalse(os.path.exists(work), "a dead lab's folder was left")
        again.terminate()
        again.wait(10)

    def test_an_emulator_that_ends_at_once_is_a_failed_lab_that_says_why(self):
        with open(self.fake, "w") as f:
            f.write("#!/bin/sh\necho 'qemu: could not load kernel'\nexit 1\n")
        lab = subprocess.run([sys.executable, os.path.join(LAB, "lab.py"), BUILD],
                             env=dict(os.environ, LAB_QEMU=self.fake), capture_output=True,
                             text=True, timeout=15)
        self.assertEqual(lab.returncode, 1)
        self.assertIn("qemu: could not load kernel", lab.stdout)
        self.assertIn("FAILED, the machine did not start", lab.stdout)

    def test_a_process_the_lab_starts_ends_with_the_thread_that_started_it(self):
        # As the unit is started by the thread that serves the guest's requests.
        child = subprocess.Popen([sys.executable, "-B", "-c", textwrap.dedent("""
            import sys, threading, time
            sys.path.insert(0, %r)
            from peer import spawn
            def start():
                print(spawn(["sleep", "60"]).pid, flush=True)
                time.sleep(60)
            threading.Thread(target=start, daemon=True).start()
            time.sleep(60)
            """ % LAB)], stdout=subprocess.PIPE, text=True)
        started = int(child.stdout.readline())
        self.children.append(started)
        self.assertTrue(alive(started))
        child.kill()
        child.wait()
        child.stdout.close()
        self.assertTrue(wait_for(lambda: not alive(started), 5), "it outlived the lab")


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv.pop(1))
    unittest.main()
