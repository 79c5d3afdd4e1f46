#!/usr/bin/env python3
"""Runs the driver tests inside a small virtual machine and plays the far ends of its ports.

The guest boots Debian's kernel with this machine's root read-only over 9p, so it runs the
tree's own build. Its /dev/ttyS1 is a 16550A (8250 driver) and its /dev/ttyUSB0 an FTDI
adapter (ftdi_sio on qemu-xhci); their far ends are sockets served here. The guest asks for
what only the host can do (unplug the adapter, send a break, hold the line) over a control
port, one line per request, and reports its result on the console.

    lab.py BUILD_DIR [--filter GTEST_FILTER] [--timeout SECONDS]
"""

import argparse
import glob
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

sys.dont_write_bytecode = True  # nothing generated in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from peer import FarEnd, Monitor, connect_unix, control_loop, spawn  # noqa: E402

LAB = os.path.dirname(os.path.abspath(__file__))
INIT_MODULES = ["9p", "9pnet_virtio", "virtio_pci"]
RESULT = "LAB-RESULT "


def kernel_version():
    kernels = sorted(glob.glob("/boot/vmlinuz-*"))
    if not kernels:
        sys.exit("lab: no kernel under /boot (scripts/install-deps.sh installs linux-image-amd64)")
    return kernels[-1][len("/boot/vmlinuz-"):]


def module_files(version):
    files = []
    for module in INIT_MODULES:
        out = subprocess.run(["modprobe", "-S", version, "--show-depends", module],
                             check=True, capture_output=True, text=True).stdout
        for line in out.splitlines():
            path = line.split()[1]
            if line.startswith("insmod ") and path not in files:
                files.append(path)
    return files


def build_initramfs(work, version, guest_args):
    """A busybox that loads the 9p modules, mounts the host's root and runs the guest script."""
    root = os.path.join(work, "initramfs")
    os.makedirs(os.path.join(root, "bin"))
    os.makedirs(os.path.join(root, "modules"))
    shutil.copy("/bin/busybox", os.path.join(root, "bin/busybox"))
    loads = []
    for path in module_files(version):
        name = os.path.basename(path)
        shutil.copy(path, os.path.join(root, "modules", name))
        loads.append("insmod /modules/" + name)
    init = "\n".join([
        "#!/bin/busybox sh",
        "/bin/busybox --install -s /bin",
        "mkdir -p /proc /sys /dev /host",
        "mount -t proc proc /proc",
        "mount -t devtmpfs dev /dev",
        *loads,
        "if ! mount -t 9p -o trans=virtio,version=9p2000.L,ro hostroot /host; then",
        "  echo '" + RESULT + "no-root'; poweroff -f",
        "fi",
        "umount /proc",
        "exec switch_root /host /bin/sh " + " ".join(guest_args),
        ""])
    with open(os.path.join(root, "init"), "w") as f:
        f.write(init)
    os.chmod(os.path.join(root, "init"), 0o755)
    image = os.path.join(work, "initramfs.cpio")
    with open(image, "wb") as out:
        names = subprocess.run(["find", "."], cwd=root, check=True, capture_output=True).stdout
        subprocess.run(["cpio", "-o", "-H", "newc", "--quiet"], cwd=root, input=names,
                       stdout=out, check=True)
    return image


def qemu_command(work, version, image):
    def sock(name):
        return "socket,id=%s,path=%s,server=on,wait=off" % (name, os.path.join(work, name))
    return [
        os.environ.get("LAB_QEMU", "qemu-system-x86_64"), "-accel", "tcg", "-m", "768", "-smp", "1",
        "-no-reboot", "-display", "none", "-serial", "stdio",
        "-kernel", "/boot/vmlinuz-" + version, "-initrd", image,
        "-append", "console=ttyS0 panic=-1 quiet",
        "-virtfs", "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,"
                   "multidevs=remap",
        "-chardev", sock("uart"), "-serial", "chardev:uart",
        "-device", "qemu-xhci",
        "-chardev", sock("usb"), "-device", "usb-serial,id=usb1,chardev=usb",
        "-device", "virtio-serial-pci",
        "-chardev", sock("ctl"), "-device", "virtserialport,chardev=ctl,name=lab",
        "-qmp", "unix:%s,server=on,wait=off" % os.path.join(work, "qmp"),
    ]


# One machine runs them all; each --filter given gets a machine of its own.
GROUPS = ["*"]


def end_on_signal(number, _frame):
    """A lab told to stop (a timeout, a closed terminal) cleans up as a failed one does."""
    raise SystemExit(128 + number)


WORK_PREFIX = "vardelio-lab-"


def sweep_stale_work():
    """Removes what a lab that was killed outright left behind: its folder names its process."""
    for folder in glob.glob(os.path.join(tempfile.gettempdir(), WORK_PREFIX + "*-*")):
        try:
            os.kill(int(os.path.basename(folder)[len(WORK_PREFIX):].split("-")[0]), 0)
        except ProcessLookupError:
            shutil.rmtree(folder, ignore_errors=True)
        except (ValueError, PermissionError):
            pass  # not ours, or its process still runs


def main():
    for number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, end_on_signal)
    sweep_stale_work()
    parser = argparse.ArgumentParser()
    parser.add_argument("build_dir")
    parser.add_argument("--filter", action="append",
                        help="a GoogleTest filter; one machine each (default: all tests)")
    parser.add_argument("--timeout", type=float, default=180, help="seconds per machine")
    args = parser.parse_args()
    build = os.path.abspath(args.build_dir)
    tests = os.path.join(build, "lab", "lab_tests")
    if not os.access(tests, os.X_OK):
        sys.exit("lab: %s is not built" % tests)
    started = time.monotonic()
    failed = 0
    for group in args.filter or GROUPS:
        result = run_machine(build, tests, group, args.timeout)
        print("lab: %s: %s" % (group, "passed" if result == "0" else "FAILED, " + result),
              flush=True)
        failed += result != "0"
    print("lab: %d of %d machines failed, %.0f s" % (failed, len(args.filter or GROUPS),
                                                   time.monotonic() - started), flush=True)
    return 1 if failed else 0


def run_machine(build, tests, gtest_filter, timeout):
    """Boots one machine that runs the tests of the filter; returns the guest's result."""
    version = kernel_version()
    work = tempfile.mkdtemp(prefix="%s%d-" % (WORK_PREFIX, os.getpid()))
    started = time.monotonic()
    qemu = None
    state = {"work": work, "program": os.path.join(build, "tools", "vardelio-unit"),
             "how": os.environ.get("LAB_UNPLUG", "cable")}
    try:
        guest = [os.path.join(LAB, "guest.sh"), tests, "'%s'" % gtest_filter]
        image = build_initramfs(work, version, guest)
        qemu = spawn(qemu_command(work, version, image), stdin=subprocess.DEVNULL,
                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        try:
            ends = {name: FarEnd(connect_unix(os.path.join(work, name), server=qemu))
                    for name in ("uart", "usb")}
            monitor = Monitor(connect_unix(os.path.join(work, "qmp"), server=qemu))
            control = connect_unix(os.path.join(work, "ctl"), server=qemu)
        except (OSError, ValueError) as error:
            return machine_failed(qemu, error)
        threading.Thread(target=control_loop, args=(control, ends, monitor, state),
                         daemon=True).start()
        return watch_console(qemu, started + timeout)
    finally:
        if qemu is not None and qemu.poll() is None:
            qemu.kill()
            qemu.wait()
        if state.get("unit"):  # a guest that failed before it stopped the unit
            state.pop("unit").stop()
        shutil.rmtree(work, ignore_errors=True)


def machine_failed(qemu, error):
    """The emulator ended or never served its sockets: what it said is the diagnosis."""
    if qemu.poll() is None:
        qemu.kill()
    print(qemu.stdout.read().decode("utf-8", "replace"), end="", flush=True)
    qemu.wait()
    return "the machine did not start: %s" % error


def watch_console(qemu, deadline):
    """Echoes the guest's console and returns its result; a guest that ends without one failed."""
    result = "the guest ended without a result"
    timer = threading.Timer(max(1.0, deadline - time.monotonic()), qemu.kill)
    timer.start()
    try:
        for raw in qemu.stdout:
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            print(line, flush=True)
            if line.startswith(RESULT):
                result = line[len(RESULT):].strip()
        if qemu.wait() != 0:
            result += " (qemu exit status %d)" % qemu.returncode
    finally:
        if not timer.is_alive():
            result = "the guest ran out of time"
        timer.cancel()
    return result


if __name__ == "__main__":
    sys.exit(main())
