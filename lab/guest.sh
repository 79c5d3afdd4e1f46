#!/bin/sh
# Runs inside the lab's machine, on the host's root (read-only): prepares what the tests need,
# runs them and reports the result on the console, then powers the machine off.
#   guest.sh TESTS FILTER
tests=$1
filter=$2

mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev 2>/dev/null
mkdir -p /dev/pts 2>/dev/null
mount -t devpts devpts /dev/pts
# Scratch space on /run: the host's /tmp stays visible, since the build may live there.
mount -t tmpfs run /run
mkdir -p /run/lab
# Driver complaints (ftdi_sio logs the settings the emulated chip refuses) stay off the results.
dmesg -n 1
modprobe virtio_console
modprobe xhci_pci
modprobe ftdi_sio

# The adapter and the control port appear a little after their drivers load.
for i in $(seq 100); do
  [ -c /dev/ttyUSB0 ] && ls /dev/vport*p1 >/dev/null 2>&1 && break
  sleep 0.1
done

control=$(ls /dev/vport*p1 2>/dev/null | head -n 1)
export HOME=/run/lab XDG_RUNTIME_DIR=/run/lab TMPDIR=/run/lab QT_QPA_PLATFORM=offscreen LAB_CONTROL=$control
cd /run/lab
"$tests" --gtest_filter="$filter" --gtest_color=no
echo "LAB-RESULT $?"
busybox poweroff -f
