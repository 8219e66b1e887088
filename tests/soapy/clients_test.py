#!/usr/bin/python3
"""SoapySDR programs we did not write, against the module and simulated receivers.

Runs in the host namespace of scripts/netns-run (the simulator's verifiable pattern on the receiver
side); the module comes from SOAPY_SDR_PLUGIN_PATH. One case per run:
  util      SoapySDRUtil finds both receivers, probes one and streams from it
  python    the Python bindings: pattern, a loss for good, a FIFO overrun, retune, rate change
  gnuradio  GNU Radio's SoapySDR source in a headless flowgraph into a file
  remote    SoapySDRServer here, a driver=remote client in the receivers' namespace
Debian's Python packages import under /usr/bin/python3 only.
"""
import os
import signal
import subprocess
import sys
import tempfile
import time

import numpy as np
import SoapySDR
from SoapySDR import SOAPY_SDR_RX as RX

FIRST, SECOND = "RVD010a1f00123", "RVD010a1f00124"
PAIRS_PER_DATAGRAM = 200
LOST_AT = 9000  # the python case's simulator loses datagrams from here on (--lose-for-good)


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def check(condition, message):
    if not condition:
        fail(message)


def pattern_indices(i, q):
    """The sample index each 32-bit pair carries (see tools/sim/pattern.h)."""
    i, q = i.astype(np.uint32), q.astype(np.uint32)
    check(not ((i | q) & 0xFF).any(), "a pair that is not a pattern sample")
    return (i >> 8).astype(np.uint64) | ((q >> 8).astype(np.uint64) << 24)


def check_run(n, what):
    check(n.size > 0, what + ": no samples")
    steps = np.flatnonzero(np.diff(n) != 1)
    check(steps.size == 0, "%s: %d departures from the pattern, first after index %d"
          % (what, steps.size, n[steps[0]] if steps.size else 0))


class Reader:
    """A CS32 stream read into runs of pattern indices, split where the module reports a loss."""

    def __init__(self, device, args=None):
        self.device = device
        self.stream = device.setupStream(RX, SoapySDR.SOAPY_SDR_CS32, [0], args or {})
        self.buffer = np.zeros(2 * 8192, np.int32)
        device.activateStream(self.stream)

    def read(self, seconds):
        runs, current, timeouts = [], [], 0
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            r = self.device.readStream(self.stream, [self.buffer], 8192, timeoutUs=200000)
            if r.ret > 0:
                current.append(pattern_indices(self.buffer[0:2 * r.ret:2], self.buffer[1:2 * r.ret:2]))
            elif r.ret == SoapySDR.SOAPY_SDR_OVERFLOW:
                runs.append(np.concatenate(current) if current else np.zeros(0, np.uint64))
                current = []
            elif r.ret == SoapySDR.SOAPY_SDR_TIMEOUT:
                timeouts += 1
            else:
                fail("readStream returned %d" % r.ret)
        runs.append(np.concatenate(current) if current else np.zeros(0, np.uint64))
        check(timeouts == 0, "%d timeouts while streaming" % timeouts)
        return runs

    def close(self):
        self.device.deactivateStream(self.stream)
        self.device.closeStream(self.stream)


def check_loss(before, after, what):
    """One reported loss: whole datagrams missing between two intact runs."""
    check_run(before, what + " (before the loss)")
    check_run(after, what + " (after the loss)")
    check(after[0] % PAIRS_PER_DATAGRAM == 0 and after[0] > before[-1] + 1,
          "%s: the loss is not a gap of whole datagrams (%d then %d)" % (what, before[-1], after[0]))


def tasks():
    return len(os.listdir("/proc/self/task"))


def case_util():
    found = subprocess.run(["SoapySDRUtil", "--find=driver=tarnixddc"], capture_output=True, text=True,
                           timeout=30).stdout
    check(FIRST in found and SECOND in found, "--find lists both receivers:\n" + found)
    probe = subprocess.run(["SoapySDRUtil", "--probe=driver=tarnixddc,serial=" + SECOND], capture_output=True,
                           text=True, timeout=30).stdout
    for text in ["Channels: 1 Rx, 0 Tx", "Stream formats: CS32, CF32, CS16", "ATT gain range: [-20, 0, 20] dB",
                 "Sample rates: 0.0390625, 0.078125, 0.15625, 0.3125 MSps", "key=lpf, default=true",
                 "pll1_locked (pll1_locked): true", "serial=" + SECOND, "firmware=1.4"]:
        check(text in probe, "--probe shows " + text + ":\n" + probe)
    rate = subprocess.Popen(["SoapySDRUtil", "--args=driver=tarnixddc,serial=" + FIRST, "--rate=312500",
                             "--direction=RX"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    time.sleep(6)
    rate.send_signal(signal.SIGINT)
    out = rate.communicate(timeout=20)[0]
    # It exits with 1 even after a clean Ctrl+C; errors, timeouts and overflows show in its output.
    check(rate.returncode in (0, 1) and "rror" not in out and "Overflows" not in out and "T" not in out.split("...")[-1],
          "SoapySDRUtil --rate streams without errors:\n" + out)
    speeds = [float(w) for w in out.replace("\t", " ").split() if w.replace(".", "").isdigit() and "." in w]
    check(speeds and speeds[0] > 0.3, "SoapySDRUtil --rate reaches 0.3125 Msps:\n" + out)


def case_python():
    before = tasks()
    found = SoapySDR.Device.enumerate("driver=tarnixddc,serial=" + SECOND)
    check(len(found) == 1 and found[0]["label"] == "TarnixDDC " + SECOND, "serial= keeps one receiver: %s" % found)

    device = SoapySDR.Device("driver=tarnixddc,serial=" + FIRST)
    device.setSampleRate(RX, 0, 156250)
    device.setFrequency(RX, 0, 10e6)
    reader = Reader(device)
    runs = reader.read(10)
    check(len(runs) == 1, "10 s without a loss report")
    check_run(runs[0], "10 s at 156250")
    check(runs[0][0] == 0 and 0.9 * 10 * 156250 < runs[0].size < 1.1 * 10 * 156250,
          "10 s at 156250 from the stream's start: %d pairs from %d" % (runs[0].size, runs[0][0]))

    # The simulator never sends datagrams LOST_AT.. : the module reports one loss where they are.
    runs = reader.read((LOST_AT + 1000) / 781.25 - 10)
    check(len(runs) == 2, "one loss report for datagrams lost for good, got %d runs" % len(runs))
    check_loss(runs[0], runs[1], "datagrams lost for good")
    check(runs[0][-1] < LOST_AT * PAIRS_PER_DATAGRAM <= runs[1][0], "the loss is where the datagrams were")

    device.setFrequency(RX, 0, 20e6)  # retune, and a search by the same program, while active
    check(device.getFrequency(RX, 0) == 20e6, "the frequency reads back")
    check([f["serial"] for f in SoapySDR.Device.enumerate("driver=tarnixddc")] == [FIRST], "the streaming receiver is found")
    runs = reader.read(1)
    check(len(runs) == 1, "a retune or a search loses nothing")
    check_run(runs[0], "after a retune and a search")

    time.sleep(7.5)  # a client that stops reading: the FIFO (about 6.7 s at this rate) overruns
    runs = reader.read(1)
    check(len(runs) == 2, "one loss report for a FIFO overrun, got %d runs" % len(runs))
    check_loss(runs[0], runs[1], "FIFO overrun")

    device.setSampleRate(RX, 0, 312500)  # rate change while active: a new stream at the new rate
    runs = reader.read(2)
    check(len(runs) == 1 and runs[0][0] == 0, "the new stream starts whole")
    check_run(runs[0], "after the rate change")
    check(0.85 * 2 * 312500 < runs[0].size < 1.15 * 2 * 312500, "312500 S/s after the change: %d" % runs[0].size)

    device.deactivateStream(reader.stream)  # nothing comes while inactive; activating again works
    check(device.readStream(reader.stream, [reader.buffer], 8192, timeoutUs=300000).ret ==
          SoapySDR.SOAPY_SDR_TIMEOUT, "a stopped stream times out")
    device.activateStream(reader.stream)
    runs = reader.read(1)
    check(len(runs) == 1 and runs[0][0] == 0, "activate again starts a whole stream")
    check_run(runs[0], "activated again")
    reader.close()

    stream = device.setupStream(RX, SoapySDR.SOAPY_SDR_CS16)  # the top 16 bits of each value
    device.activateStream(stream)
    buf = np.zeros(2 * 4096, np.int16)
    time.sleep(0.1)
    r = device.readStream(stream, [buf], 4096, timeoutUs=500000)
    check(r.ret > 1000, "CS16 reads %d pairs" % r.ret)
    high = buf[0:2 * r.ret:2].astype(np.int64) & 0xFFFF  # sample index bits 8..23
    check(np.isin(np.diff(high) % 65536, [0, 1]).all() and (buf[1:2 * r.ret:2] == 0).all(), "CS16 follows the pattern")
    device.deactivateStream(stream)
    device.closeStream(stream)

    for bad in [lambda: device.setSampleRate(RX, 0, float("nan")), lambda: device.setGain(RX, 0, "LNA", 0),
                lambda: device.setFrequency(RX, 1, 1e6), lambda: device.writeSetting("lpf", "maybe"),
                lambda: device.setupStream(SoapySDR.SOAPY_SDR_TX, SoapySDR.SOAPY_SDR_CS32),
                lambda: SoapySDR.Device("driver=tarnixddc,serial=RVD010a1f99999")]:
        try:
            bad()
            fail("a bad argument was accepted")
        except RuntimeError:  # the one type C++ clients such as gr-osmosdr catch
            pass
    device.setGain(RX, 0, "ATT", -20)
    check(device.getGain(RX, 0, "ATT") == -20 and device.readSetting("lpf") == "true", "attenuator and filter read back")
    del device, reader, bad
    deadline = time.monotonic() + 2  # a thread that was waited for may take a moment more to vanish
    while tasks() != before and time.monotonic() < deadline:
        time.sleep(0.01)
    names = [open("/proc/self/task/%s/comm" % t).read().strip() for t in os.listdir("/proc/self/task")]
    check(tasks() == before, "closing the device leaves no thread running: %s, %d before" % (names, before))


def check_complex_file(path, rate, seconds):
    data = np.fromfile(path, np.complex64)
    # Full scale 2^31: every 24-bit sample (times 256) is exact in a float.
    i = np.round(data.real.astype(np.float64) * 2**31).astype(np.int64)
    q = np.round(data.imag.astype(np.float64) * 2**31).astype(np.int64)
    n = pattern_indices(i & 0xFFFFFFFF, q & 0xFFFFFFFF)
    check(n.size == rate * seconds, "the file holds %d pairs" % n.size)
    check_run(n, "GNU Radio file")


def case_gnuradio():
    from gnuradio import blocks, gr, soapy
    rate, seconds = 312500, 3
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "iq.cf32")
        tb = gr.top_block()
        source = soapy.source("driver=tarnixddc,serial=" + FIRST, "fc32", 1, "", "", [""], [""])
        source.set_sample_rate(0, rate)
        source.set_frequency(0, 7.2e6)
        head = blocks.head(gr.sizeof_gr_complex, rate * seconds)
        sink = blocks.file_sink(gr.sizeof_gr_complex, path)
        tb.connect(source, head, sink)
        tb.run()
        del tb, source
        check_complex_file(path, rate, seconds)


BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>system</type><listen>unix:path=%s</listen><auth>EXTERNAL</auth>
<policy context="default"><allow user="*"/><allow own="*"/><allow send_destination="*"/>
<allow receive_sender="*"/></policy></busconfig>
"""


def stop(process):
    process.send_signal(signal.SIGINT)
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def case_remote():
    """Run under `unshare -m`: SoapySDRServer gives up without a DNS-SD daemon, so it gets an avahi
    daemon of its own, on a private D-Bus, with its run directory private to this mount namespace."""
    host = "192.168.16.1"
    with tempfile.TemporaryDirectory() as tmp:
        bus = os.path.join(tmp, "bus")
        with open(os.path.join(tmp, "bus.conf"), "w") as f:
            f.write(BUS_CONFIG % bus)
        with open(os.path.join(tmp, "avahi.conf"), "w") as f:
            f.write("[server]\nuse-ipv6=no\n[publish]\npublish-workstation=no\n")
        os.makedirs("/run/avahi-daemon", exist_ok=True)
        subprocess.run(["mount", "-t", "tmpfs", "tmpfs", "/run/avahi-daemon"], check=True)
        os.environ["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=" + bus
        quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
        helpers = [subprocess.Popen(["dbus-daemon", "--nofork", "--config-file=" + tmp + "/bus.conf"], **quiet)]
        try:
            time.sleep(0.5)
            helpers.append(subprocess.Popen(["avahi-daemon", "--no-drop-root", "--no-chroot", "--no-rlimits",
                                             "-f", tmp + "/avahi.conf"], **quiet))
            time.sleep(1)
            helpers.append(subprocess.Popen(["SoapySDRServer", "--bind=%s:55132" % host], **quiet))
            time.sleep(1)
            client = subprocess.run(["ip", "netns", "exec", os.environ["TARNIX_NETNS_RX"], sys.executable, __file__,
                                     "remote-client", host], timeout=120)
            check(client.returncode == 0, "the remote client read an intact stream")
        finally:
            for process in reversed(helpers):
                stop(process)


def case_remote_client(host):
    device = SoapySDR.Device("driver=remote,remote=tcp://%s:55132,remote:driver=tarnixddc,serial=%s" % (host, FIRST))
    check(device.getHardwareKey() == "TarnixDDC", "the server's device answers")
    device.setSampleRate(RX, 0, 156250)
    reader = Reader(device, {"remote:format": "CS32", "remote:prot": "tcp"})
    runs = reader.read(3)
    check(len(runs) == 1, "no loss across the network")
    check_run(runs[0], "through SoapyRemote")
    check(runs[0].size > 0.8 * 3 * 156250, "%d pairs through SoapyRemote" % runs[0].size)
    reader.close()


def main():
    case = sys.argv[1] if len(sys.argv) > 1 else ""
    cases = {"util": case_util, "python": case_python, "gnuradio": case_gnuradio, "remote": case_remote,
             "remote-client": lambda: case_remote_client(sys.argv[2])}
    if case not in cases:
        print(__doc__)
        sys.exit(2)
    if case != "remote-client" and "TARNIX_NETNS_HOST" not in os.environ:
        print("needs the namespaces of scripts/netns-run; skipped")
        sys.exit(77)
    cases[case]()
    print("PASS:", case)


if __name__ == "__main__":
    main()
