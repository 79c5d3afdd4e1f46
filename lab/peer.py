"""The host's side of the lab: the far ends of the guest's ports, the monitor, and the control
port on which the guest asks for what only the host can do."""

import ctypes
import json
import os
import select
import signal
import socket
import subprocess
import threading
import time
import zlib


def pattern(count, start=0):
    """The bytes both sides agree on; every value occurs, 0x00 and 0xFF included."""
    return bytes(((i * 131) + 7) & 0xFF for i in range(start, start + count))


PR_SET_PDEATHSIG = 1
# Looked up here: a child between fork and exec must take no lock another thread may hold.
_PRCTL = ctypes.CDLL(None, use_errno=True).prctl


def spawn(command, **options):
    """Starts a process that is killed when the thread that started it ends, so neither a
    machine nor a unit outlives a lab that was killed or timed out."""
    parent = os.getpid()

    def die_with_parent():
        _PRCTL(PR_SET_PDEATHSIG, int(signal.SIGKILL))
        if os.getppid() != parent:  # the parent was gone before the request took
            os._exit(1)

    return subprocess.Popen(command, preexec_fn=die_with_parent, **options)


def connect_unix(path, limit=20.0, server=None):
    """Connects to the socket the server process (if given) serves, once it is there."""
    deadline = time.monotonic() + limit
    while True:
        try:
            s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            s.connect(path)
            return s
        except OSError:
            s.close()
            if server is not None and server.poll() is not None:
                raise OSError("it ended with status %d" % server.returncode)
            if time.monotonic() > deadline:
                raise
            time.sleep(0.05)


class FarEnd:
    """The other end of one of the guest's lines.

    echo: sends back what arrives; sink: takes it in; hold: reads nothing, so the guest's
    output stays queued in its driver; flood: takes in and sends the pattern without end."""

    def __init__(self, sock):
        self.sock = sock
        self.sock.setblocking(False)
        # Little is left in flight when the line goes away under a flood.
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4096)
        self.mode = "sink"
        self.received = bytearray()
        self.lock = threading.Lock()
        self.bridge = None  # a descriptor joined to the line instead of the modes
        self.closed = False
        threading.Thread(target=self._run, daemon=True).start()

    def close(self):
        """Ends this far end; its socket closes with the loop."""
        with self.lock:
            self.closed = True

    def set_mode(self, mode):
        with self.lock:
            self.mode = mode

    def take(self):
        with self.lock:
            data = bytes(self.received)
            self.received.clear()
            return data

    def send(self, data):
        view = memoryview(data)
        while view:
            select.select([], [self.sock], [], 1.0)
            try:
                view = view[self.sock.send(view):]
            except BlockingIOError:
                pass

    def _run(self):
        try:
            self._serve()
        except OSError:
            pass  # the machine has gone
        self.sock.close()

    def _serve(self):
        flooded = 0
        while True:
            with self.lock:
                mode, bridge = self.mode, self.bridge
                if self.closed:
                    return
            reading = [self.sock] if mode != "hold" else []
            if bridge is not None:
                reading.append(bridge)
            writing = [self.sock] if mode == "flood" else []
            ready_r, ready_w, _ = select.select(reading, writing, [], 0.05)
            if bridge is not None and bridge in ready_r:
                self._pass_on(bridge)
            if self.sock in ready_r:
                self._take_in(mode, bridge)
            if self.sock in ready_w:
                try:
                    flooded += self.sock.send(pattern(4096, flooded % 256))
                except BlockingIOError:
                    pass

    def _pass_on(self, bridge):
        try:
            data = os.read(bridge, 4096)
        except OSError:
            data = b""
        if data:
            self.send(data)

    def _take_in(self, mode, bridge):
        try:
            data = self.sock.recv(65536)
        except BlockingIOError:
            return
        if not data:
            raise OSError("the machine has gone")
        if bridge is not None:
            os.write(bridge, data)
            return
        with self.lock:
            self.received += data
        if mode == "echo":
            self.send(data)


class Monitor:
    """The machine's monitor (QMP): one command at a time, events kept for whoever waits."""

    def __init__(self, sock):
        self.file = sock.makefile("rw", encoding="utf-8")
        self.events = []
        self.lock = threading.Lock()
        self._line()  # greeting
        self.execute("qmp_capabilities")

    def _line(self):
        message = json.loads(self.file.readline())
        if "event" in message:
            self.events.append(message["event"])
        return message

    def execute(self, command, **arguments):
        with self.lock:
            self.file.write(json.dumps({"execute": command, "arguments": arguments}) + "\n")
            self.file.flush()
            while True:
                message = self._line()
                if "return" in message:
                    return None
                if "error" in message:
                    return message["error"].get("desc", "error")

    def wait_event(self, name, limit=15.0):
        deadline = time.monotonic() + limit
        while name not in self.events and time.monotonic() < deadline:
            self.execute("query-status")  # reading the answer takes in any event before it
            time.sleep(0.05)
        if name not in self.events:
            return False
        self.events.remove(name)
        return True


class Unit:
    """The simulated unit on its pseudo-terminal, joined to the adapter's far end."""

    def __init__(self, program, work, end, options):
        self.link = os.path.join(work, "unit-link")
        self.process = spawn([program, self.link] + options,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 5
        while not os.path.exists(self.link) and time.monotonic() < deadline:
            time.sleep(0.02)
        try:
            self.fd = os.open(self.link, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        except OSError:
            self.process.kill()
            self.process.wait()
            raise
        subprocess.run(["stty", "-F", self.link, "raw", "-echo", "9600"], check=False)
        self.end = end
        with end.lock:
            end.bridge = self.fd

    def stop(self):
        with self.end.lock:
            self.end.bridge = None
        self.process.terminate()
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.close(self.fd)


def unplug(ends, monitor, state):
    """Pulls the adapter out by hanging up its far end, on which QEMU detaches the USB device
    as a pulled cable would; LAB_UNPLUG=device uses device_del instead, which QEMU 7.2 does not
    always complete and after which a flood can crash it (SIGSEGV)."""
    ends["usb"].close()  # nothing more is sent down a line that has gone
    if state.get("how") == "cable":
        return "ok"
    error = monitor.execute("device_del", id="usb1")
    if error:
        return "error " + error
    monitor.wait_event("DEVICE_DELETED", 5.0)
    return "ok"


def replug(ends, monitor, state):
    mode = ends["usb"].mode
    ends["usb"] = FarEnd(connect_unix(os.path.join(state["work"], "usb")))
    ends["usb"].set_mode(mode if mode != "flood" else "sink")
    if state.get("how") == "cable":
        return "ok"  # QEMU attaches the device again once its far end is there
    deadline = time.monotonic() + 15
    while True:  # the old adapter's name is free once QEMU has let it go
        error = monitor.execute("device_add", driver="usb-serial", id="usb1", chardev="usb")
        if not error or time.monotonic() > deadline:
            return "error " + error if error else "ok"
        time.sleep(0.2)


def handle(words, ends, monitor, state):
    """One request of the guest; returns the answer line."""
    verb = words[0]
    if verb == "mode":
        ends[words[1]].set_mode(words[2])
    elif verb == "got":
        data = ends[words[1]].take()
        return "ok %d %08x" % (len(data), zlib.crc32(data))
    elif verb == "send":
        ends[words[1]].send(pattern(int(words[2])))
    elif verb == "break":
        error = monitor.execute("chardev-send-break", id="uart")
        if error:
            return "error " + error
    elif verb == "unplug":
        return unplug(ends, monitor, state)
    elif verb == "replug":
        return replug(ends, monitor, state)
    elif verb == "unit":
        if state.get("unit"):
            state.pop("unit").stop()
        if words[1] == "start":
            state["unit"] = Unit(state["program"], state["work"], ends["usb"], words[2:])
    else:
        return "error unknown request"
    return "ok"


def control_loop(sock, ends, monitor, state):
    file = sock.makefile("rw", encoding="utf-8", newline="\n")
    for line in file:
        words = line.split()
        if not words:
            continue
        try:
            answer = handle(words, ends, monitor, state)
        except Exception as error:  # the guest hears of it and fails its test
            answer = "error %s" % error
        file.write(answer + "\n")
        file.flush()
