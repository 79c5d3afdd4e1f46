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
mount -t tmpfs tmp /tmp
mount -t tmpfs run /run
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
export HOME=/tmp XDG_RUNTIME_DIR=/tmp QT_QPA_PLATFORM=offscreen LAB_CONTROL=$control
cd /tmp
"$tests" --gtest_filter="$filter" --gtest_color=no
echo "LAB-RESULT $?"
busybox poweroff -f
