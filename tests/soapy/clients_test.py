#!/usr/bin/python3
"""SoapySDR programs we did not write, at their defaults, against the module and simulated receivers.

Runs in the host namespace of scripts/netns-run (the simulator's verifiable pattern on the receiver
side); the module comes from SOAPY_SDR_PLUGIN_PATH. One case per run:
  util       SoapySDRUtil finds both receivers, probes one and streams from it
  python     the Python bindings: pattern and timestamps, a loss for good, an overrun, rates, logging
  grc        a GNU Radio Companion flowgraph (Soapy Custom Source at its defaults) compiled by grcc
  osmosdr    gr-osmosdr's source making the calls gqrx makes when it opens a device, 8 s, a retune
  gqrx       gqrx itself under Xvfb with a configuration saved from another device
  rtl433     rtl_433 recording the receiver's own 312500 samples/s
  rtl433-default HZ:DBFS...  rtl_433 at its own default rate against the simulator playing those tones
  sequences  SDR++'s and CubicSDR's call sequences; a receiver that falls silent and comes back
  remote     SoapySDRServer here, a driver=remote client in the receivers' namespace: an intact
             stream, SDR++'s and CubicSDR's sequences
Debian's Python packages import under /usr/bin/python3 only.
"""
import os
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time

import numpy as np
import SoapySDR
from SoapySDR import SOAPY_SDR_RX as RX

FIRST, SECOND = "RVD010a1f00123", "RVD010a1f00124"
PAIRS_PER_DATAGRAM = 200
LOST_AT = 9000  # the python case's simulator loses datagrams from here on (--lose-for-good)
# The sequences and remote cases' simulator falls silent at these datagrams of every stream
# (--silence 3000:3000 --silence 6000:20000): 1.9 s into a stream at 312500 samples/s.
SILENT_AT, SILENT_AGAIN_AT = 3000, 6000
HERE = os.path.dirname(os.path.abspath(__file__))


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def check(condition, message):
    if not condition:
        fail(message)


def pattern_indices(i, q):
    """The sample index each 32-bit pair carries (see tools/sim/pattern.h)."""
    i, q = i.astype(np.int64) & 0xFFFFFFFF, q.astype(np.int64) & 0xFFFFFFFF
    check(not ((i | q) & 0xFF).any(), "a pair that is not a pattern sample")
    return (i >> 8) | ((q >> 8) << 24)


def complex_indices(data):
    """Pattern indices of CF32 samples: full scale 2^31, so every 24-bit sample is exact."""
    return pattern_indices(np.round(data.real.astype(np.float64) * 2**31).astype(np.int64),
                           np.round(data.imag.astype(np.float64) * 2**31).astype(np.int64))


def check_run(n, what):
    check(n.size > 0, what + ": no samples")
    steps = np.flatnonzero(np.diff(n) != 1)
    check(steps.size == 0, "%s: %d departures from the pattern, first after index %d"
          % (what, steps.size, n[steps[0]] if steps.size else 0))


def check_complex_file(path, pairs, what):
    n = complex_indices(np.fromfile(path, np.complex64))
    check(n.size == pairs, "%s holds %d pairs, not %d" % (what, n.size, pairs))
    check_run(n, what)


class Log:
    """What the module says through SoapySDR's logger."""

    def __init__(self):
        self.lines = []
        SoapySDR.registerLogHandler(lambda level, text: self.lines.append((level, text)))

    def count(self, level, text):
        return sum(1 for lv, t in self.lines if lv == level and text in t)


class Reader:
    """A CS32 stream read into runs of sample positions in the stream (the simulator's counter runs on
    across streams, so a stream's first read, at time 0, sets where it starts), split where the module
    reports a loss. Every read's timestamp must be its first sample's position at the rate: lost
    samples count. A stream starts anew at each activation and rate change."""

    def __init__(self, device, args=None):
        self.device = device
        self.rate = device.getSampleRate(RX, 0)
        self.stream = device.setupStream(RX, SoapySDR.SOAPY_SDR_CS32, [0], args or {})
        self.buffer = np.zeros(2 * 8192, np.int32)
        self.activate()

    def activate(self):
        self.device.activateStream(self.stream)
        self.start = None

    def read(self, seconds, errors_allowed=False):
        """errors_allowed: the receiver may fall silent, and the module start its stream again."""
        runs, current, timeouts, errors = [], [], 0, 0
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            r = self.device.readStream(self.stream, [self.buffer], 8192, timeoutUs=200000)
            if r.ret > 0:
                n = pattern_indices(self.buffer[0:2 * r.ret:2], self.buffer[1:2 * r.ret:2])
                rate = self.device.getSampleRate(RX, 0)
                if self.start is None or rate != self.rate or (errors and r.timeNs == 0):
                    self.start, self.rate = n[0], rate
                n = n - self.start
                check(r.flags & SoapySDR.SOAPY_SDR_HAS_TIME and r.timeNs == round(n[0] * 1e9 / self.rate),
                      "the time of sample %d of the stream is %d ns" % (n[0], r.timeNs))
                current.append(n)
            elif r.ret in (SoapySDR.SOAPY_SDR_OVERFLOW, SoapySDR.SOAPY_SDR_STREAM_ERROR):
                errors += r.ret == SoapySDR.SOAPY_SDR_STREAM_ERROR
                runs.append(np.concatenate(current) if current else np.zeros(0, np.int64))
                current = []
            elif r.ret == SoapySDR.SOAPY_SDR_TIMEOUT:
                timeouts += 1
            else:
                fail("readStream returned %d" % r.ret)
        runs.append(np.concatenate(current) if current else np.zeros(0, np.int64))
        check(errors_allowed or (timeouts == 0 and errors == 0),
              "%d timeouts and %d errors while streaming" % (timeouts, errors))
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
    check(FIRST in found and SECOND in found and "label = TarnixDDC " + FIRST in found,
          "--find lists both receivers by name and serial:\n" + found)
    probe = subprocess.run(["SoapySDRUtil", "--probe=driver=tarnixddc,serial=" + SECOND], capture_output=True,
                           text=True, timeout=30).stdout
    for text in ["Channels: 1 Rx, 0 Tx", "Stream formats: CS32, CF32, CS16", "ATT gain range: [-20, 0, 20] dB",
                 "Sample rates: 0.0390625, 0.078125, 0.15625, 0.25, 0.3125 MSps", "key=lpf, default=true",
                 "Antennas: RX", "pll1_locked (pll1_locked): true", "serial=" + SECOND, "firmware=1.4"]:
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
    log = Log()
    before = tasks()
    found = SoapySDR.Device.enumerate("driver=tarnixddc,serial=" + SECOND)
    check(len(found) == 1 and found[0]["label"] == "TarnixDDC " + SECOND and "addr" not in found[0],
          "serial= keeps one receiver, named without its address: %s" % found)

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

    time.sleep(7.5)  # a client that stops reading: the buffer (about 6.7 s at this rate) overruns
    runs = reader.read(1)
    check(len(runs) == 2, "one loss report for an overrun, got %d runs" % len(runs))
    check_loss(runs[0], runs[1], "overrun")
    check(log.count(SoapySDR.SOAPY_SDR_SSI, "O") == 2 and device.readSensor("overflows") == "2",
          "each loss prints O and counts: %s" % log.lines)

    device.setSampleRate(RX, 0, 312500)  # rate change while active: a new stream at the new rate
    runs = reader.read(2)
    check(len(runs) == 1 and runs[0][0] == 0, "the new stream starts whole")
    check_run(runs[0], "after the rate change")
    check(0.85 * 2 * 312500 < runs[0].size < 1.15 * 2 * 312500, "312500 S/s after the change: %d" % runs[0].size)

    device.deactivateStream(reader.stream)  # nothing comes while inactive; activating again works
    check(device.readStream(reader.stream, [reader.buffer], 8192, timeoutUs=300000).ret ==
          SoapySDR.SOAPY_SDR_TIMEOUT, "a stopped stream times out")
    reader.activate()
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

    # Rates a program asks for are served by the nearest offered one; within 1 Hz is that one.
    for asked, served, warned in [(2400000, 312500, 1), (240000, 250000, 1), (39062, 39062.5, 0), (100000, 78125, 1)]:
        device.setSampleRate(RX, 0, asked)
        check(device.getSampleRate(RX, 0) == served, "%d is served by %g" % (asked, served))
        check(log.count(SoapySDR.SOAPY_SDR_WARNING, "%d samples/s is not offered" % asked) == warned,
              "a warning for %d only when it is not served as asked" % asked)
    device.setFrequency(RX, 0, 868e6)
    check(device.getFrequency(RX, 0) == 800e6 and log.count(SoapySDR.SOAPY_SDR_WARNING, "tuned to 800000000 Hz") == 1,
          "868 MHz is tuned to 800 MHz, with a warning")
    device.setFrequency(RX, 0, "CORR", 2.5)
    check(device.getFrequencyCorrection(RX, 0) == 2.5 and device.getFrequency(RX, 0) == 800e6,
          "the correction reads back and leaves the frequency")
    for bad in [lambda: device.setSampleRate(RX, 0, float("nan")), lambda: device.setGain(RX, 0, "LNA", 0),
                lambda: device.setFrequency(RX, 1, 1e6), lambda: device.writeSetting("lpf", "maybe"),
                lambda: device.setAntenna(RX, 0, "TX/RX"),
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


def run_logged(command, what, timeout=60):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=timeout)
    out = "\n".join(line for line in result.stdout.splitlines() if "xtrx" not in line)
    check(result.returncode == 0, "%s exited with %d:\n%s" % (what, result.returncode, out))
    return out


def case_grc():
    pairs = 312500 * 3
    with tempfile.TemporaryDirectory() as tmp:
        run_logged(["grcc", "-o", tmp, os.path.join(HERE, "soapy_custom_source.grc")], "grcc")
        path = os.path.join(tmp, "iq.cf32")
        out = run_logged([sys.executable, os.path.join(tmp, "tarnix_to_file.py"), "--path", path,
                          "--items", str(pairs)], "the flowgraph")
        check(not re.search("error|warn|Traceback|not support", out, re.I), "every setter succeeds:\n" + out)
        check_complex_file(path, pairs, "the Soapy Custom Source's file")


def case_osmosdr():
    import osmosdr
    from gnuradio import blocks, gr
    seconds = 8
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "iq.cf32")
        tb = gr.top_block()
        source = osmosdr.source("soapy=0,driver=tarnixddc")
        # What gqrx asks when it opens a device, with the rate an RTL-SDR left in its settings.
        check(source.get_sample_rates().start() == 39062.5 and list(source.get_gain_names()) == ["ATT"] and
              source.get_gain_range("ATT").start() == -20 and list(source.get_antennas()) == ["RX"] and
              source.get_freq_range().stop() == 800e6, "what gqrx lists")
        rate = source.set_sample_rate(2400000)
        check(rate == 312500, "gqrx is told the rate it gets: %g" % rate)
        source.set_center_freq(433.92e6)
        check(source.set_freq_corr(12) == 12, "the correction reads back")
        source.set_dc_offset_mode(2)  # automatic
        source.set_iq_balance_mode(0)
        source.set_gain_mode(False)
        check(source.set_gain(0, "ATT") == 0, "the attenuator is off")
        source.set_antenna("RX")
        source.set_bandwidth(0)
        head = blocks.head(gr.sizeof_gr_complex, int(rate * seconds))
        tb.connect(source, head, blocks.file_sink(gr.sizeof_gr_complex, path))
        tb.start()
        time.sleep(seconds / 2)
        source.set_center_freq(145e6)  # gqrx retuning while it runs
        tb.wait()
        del tb, source
        check_complex_file(path, int(rate * seconds), "gr-osmosdr's file")


GQRX_CONF = """[General]
configversion=3
crashed=false

[input]
device="soapy=0,driver=tarnixddc"
frequency=433920000
sample_rate=2400000
bandwidth=0
dc_cancel=true
iq_balance=true

[remote_control]
enabled=true
"""


def start_desktop(home):
    """Xvfb on a display it picks itself and a PulseAudio server into nothing, in a home of its own."""
    os.environ.update(HOME=home, XDG_RUNTIME_DIR=home)
    read, write = os.pipe()
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
                            pass_fds=(write,), **quiet)
    os.close(write)
    with os.fdopen(read) as f:
        os.environ["DISPLAY"] = ":" + f.readline().strip()  # once it is ready
    return [xvfb, subprocess.Popen(["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                                    "-L", "module-null-sink", "-L", "module-native-protocol-unix"], **quiet)]


def gqrx_remote(command):
    import socket
    with socket.create_connection(("127.0.0.1", 7356), timeout=5) as s:
        s.sendall((command + "\n").encode())
        return s.recv(256).decode().strip()


def case_gqrx():
    with tempfile.TemporaryDirectory() as home:
        os.makedirs(os.path.join(home, ".config", "gqrx"))
        with open(os.path.join(home, ".config", "gqrx", "default.conf"), "w") as f:
            f.write(GQRX_CONF)
        processes = start_desktop(home)
        logpath = os.path.join(home, "gqrx.log")
        try:
            time.sleep(1)
            with open(logpath, "w") as logfile:
                processes.append(subprocess.Popen(["gqrx", "-c", "default.conf"], stdout=logfile, stderr=subprocess.STDOUT))
            gqrx, reply = processes[-1], ""
            deadline = time.monotonic() + 30
            while time.monotonic() < deadline and gqrx.poll() is None and not reply:
                try:
                    reply = gqrx_remote("U DSP 1")  # its remote control listens once its window is up
                except OSError:
                    time.sleep(0.2)
            check(reply == "RPRT 0", "gqrx comes up and starts its DSP (%r):\n%s" % (reply, open(logpath).read()))
            time.sleep(3)
            strength = float(gqrx_remote("l STRENGTH"))
            check(gqrx.poll() is None and strength != 0.0, "gqrx runs and sees a signal (%g dBFS)" % strength)
            out = open(logpath).read()
            check("exception" not in out and "streaming at 312500" in out, "gqrx's rate is served:\n" + out)
        finally:
            for process in reversed(processes):
                stop(process)


def check_cs16_file(path, pairs_at_least):
    """rtl_433's recording: the top 16 bits of each value, so I counts the index in steps of 256."""
    d = np.fromfile(path, np.int16)
    i, q = d[0::2].astype(np.int64) & 0xFFFF, d[1::2]
    check(i.size >= pairs_at_least and not q.any(), "the recording holds %d pattern pairs" % i.size)
    steps = np.diff(i) % 65536
    changes = np.flatnonzero(steps)
    check(np.isin(steps, [0, 1]).all() and (np.diff(changes) == 256).all(), "the recording is one unbroken run")


def case_rtl433():
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "iq.cs16")
        out = run_logged(["rtl_433", "-d", "driver=tarnixddc", "-s", "312500", "-p", "5", "-T", "3", "-w", path],
                         "rtl_433")
        check("Sample rate set to 312500 S/s." in out and "Frequency correction set to 5 ppm." in out and
              "WARNING" not in out, "rtl_433 at 312500 with a correction:\n" + out)
        check_cs16_file(path, 2 * 312500)


def case_rtl433_default(plan):
    """rtl_433 without -s asks for 250000 and decodes at that rate: its recording must hold every tone
    of the simulator's plan within +-100 kHz at its frequency and level, and none from beyond 125 kHz,
    which would fold into the band."""
    rate, tuned, n = 250000, 433.92e6, 1 << 15
    tones = [(float(hz) - tuned, float(dbfs)) for hz, dbfs in (t.split(":") for t in plan)]
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "iq.cs16")
        out = run_logged(["rtl_433", "-d", "driver=tarnixddc", "-T", "3", "-w", path], "rtl_433 at its default rate")
        check("Sample rate set to 250000 S/s." in out and "WARNING" not in out, "rtl_433 gets 250000:\n" + out)
        d = np.fromfile(path, np.int16).astype(np.float64) / 32768
        x = d[0::2] + 1j * d[1::2]
    check(x.size >= 2 * rate, "the recording holds %d pairs" % x.size)
    window = np.hanning(n)
    segments = x[n:(x.size // n) * n].reshape(-1, n) * window
    power = (np.abs(np.fft.fft(segments, axis=1)) ** 2).mean(axis=0) / (n * (window ** 2).sum())
    freqs = np.fft.fftfreq(n, 1 / rate)

    def level(hz):  # dBFS of a tone at hz: its power over the bins its window spreads it across
        k = int(np.argmin(np.abs(freqs - hz)))
        return 10 * np.log10(power[np.arange(k - 4, k + 5) % n].sum())

    for offset, dbfs in tones:
        if abs(offset) < 100e3:
            peak = freqs[int(np.argmax(np.where(np.abs(freqs - offset) < 1000, power, 0)))]
            check(abs(peak - offset) < 2 * rate / n and abs(level(offset) - dbfs) < 0.5,
                  "the tone at %+g Hz, %g dBFS, shows at %+g Hz, %.2f dBFS" % (offset, dbfs, peak, level(offset)))
        else:
            folded = offset - np.sign(offset) * rate
            check(level(folded) < dbfs - 60, "the tone at %+g Hz folds to %+g Hz at %.1f dBFS"
                  % (offset, folded, level(folded)))


def sdrpp_sequence(args):
    """SDR++'s source: list, choose the first antenna, every gain at its minimum, the lowest rate;
    stream from a reader thread; at stop deactivate and close the stream before joining the reader."""
    device = SoapySDR.Device(args)
    antennas = device.listAntennas(RX, 0)
    gains = [(name, device.getGainRange(RX, 0, name)) for name in device.listGains(RX, 0)]
    rate = sorted(device.listSampleRates(RX, 0))[0]
    device.setSampleRate(RX, 0, rate)
    device.setAntenna(RX, 0, antennas[0])
    for name, gain in gains:
        device.setGain(RX, 0, name, gain.minimum())
    device.setFrequency(RX, 0, 7.1e6)
    stream = device.setupStream(RX, SoapySDR.SOAPY_SDR_CF32)
    device.activateStream(stream)
    running, chunks, times = [True], [], []

    def worker():
        buffer = np.zeros(int(rate / 200), np.complex64)
        while running[0]:
            r = device.readStream(stream, [buffer], buffer.size)
            if r.ret > 0:
                times.append(r.timeNs)
                chunks.append(buffer[:r.ret].copy())

    reader = threading.Thread(target=worker)
    reader.start()
    time.sleep(1)
    device.setFrequency(RX, 0, 7.3e6)
    time.sleep(1)
    running[0] = False
    device.deactivateStream(stream)
    device.closeStream(stream)
    reader.join(5)
    check(not reader.is_alive(), "SDR++'s reader ends after the stream is closed")
    check(device.getGain(RX, 0, "ATT") == -20 and rate == 39062.5, "the minimum is the attenuator, the lowest rate 39062.5")
    n = complex_indices(np.concatenate(chunks))
    check_run(n, "SDR++'s samples")
    check(times[0] == 0 and n.size > 1.5 * rate, "SDR++ read %d pairs from %d ns" % (n.size, times[0]))


def cubicsdr_sequence(args):
    """CubicSDR's: its frequency correction through "CORR", every setting written back, the MTU, and a
    reader that waits 2^30 us; stop and close, from another thread, each end the wait at once."""
    device = SoapySDR.Device(args)
    device.setSampleRate(RX, 0, 312500)
    device.setFrequency(RX, 0, "RF", 7.2e6)
    if "CORR" in device.listFrequencies(RX, 0):
        device.setFrequency(RX, 0, "CORR", 0)
    for setting in device.getSettingInfo():
        device.writeSetting(setting.key, setting.value)
    stream = device.setupStream(RX, SoapySDR.SOAPY_SDR_CF32, [0])
    device.activateStream(stream)
    mtu = device.getStreamMTU(stream)
    returns, chunks = [], []

    def worker():
        buffer = np.zeros(mtu, np.complex64)
        while True:
            r = device.readStream(stream, [buffer], mtu, timeoutUs=1 << 30)
            returns.append((time.monotonic(), r.ret, r.timeNs))
            if r.ret > 0:
                chunks.append(buffer[:r.ret].copy())
            elif r.ret != SoapySDR.SOAPY_SDR_TIMEOUT:
                break

    reader = threading.Thread(target=worker)
    reader.start()
    # The receiver falls silent at SILENT_AT: the reader then waits, until the stop.
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline and not (returns and time.monotonic() - returns[-1][0] > 0.3):
        time.sleep(0.05)
    stopped = time.monotonic()
    device.deactivateStream(stream)
    time.sleep(0.3)
    check(len(returns) >= 2 and returns[-1][1] == 0 and returns[-1][0] - stopped < 0.1,
          "the waiting reader returns within 100 ms of the stop: %s" % returns[-3:])
    closed = time.monotonic()
    device.closeStream(stream)
    reader.join(5)
    check(not reader.is_alive() and returns[-1][0] - closed < 0.1, "and within 100 ms of the close")
    n = complex_indices(np.concatenate(chunks))
    check_run(n, "CubicSDR's samples")
    check(next(t for _, ret, t in returns if ret > 0) == 0 and n[-1] + 1 - n[0] == SILENT_AT * PAIRS_PER_DATAGRAM,
          "CubicSDR read from the stream's start up to the silence")


def silent_receiver():
    """Falls silent for 3 s, streams, falls silent for good: each silence is an error within about a
    second, the stream goes on after the first, and is started again after the second."""
    log = Log()
    device = SoapySDR.Device("driver=tarnixddc,serial=" + FIRST)
    device.setSampleRate(RX, 0, 312500)
    reader = Reader(device)
    runs = [run for run in reader.read(12.5, errors_allowed=True) if run.size]
    reader.close()
    check(len(runs) == 3, "three runs between the silences: %s" % [(r[0], r.size) for r in runs])
    check_run(np.concatenate(runs[:2]), "before and after the first silence")
    check(runs[0][0] == 0 and runs[1][-1] + 1 == SILENT_AGAIN_AT * PAIRS_PER_DATAGRAM, "all of the stream")
    check_run(runs[2], "the stream started again")
    check(runs[2][0] == 0 and log.count(SoapySDR.SOAPY_SDR_WARNING, "has sent nothing") == 2 and
          log.count(SoapySDR.SOAPY_SDR_INFO, "streams again") == 2 and
          log.count(SoapySDR.SOAPY_SDR_WARNING, "starting its stream again") >= 1, "logged: %s" % log.lines)


def case_sequences():
    sdrpp_sequence("driver=tarnixddc,serial=" + FIRST)
    cubicsdr_sequence("driver=tarnixddc,serial=" + FIRST)
    silent_receiver()


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
            check(client.returncode == 0, "the remote client's cases pass")
        finally:
            for process in reversed(helpers):
                stop(process)


def case_remote_client(host):
    args = "driver=remote,remote=tcp://%s:55132,remote:driver=tarnixddc,serial=%s" % (host, FIRST)
    device = SoapySDR.Device(args)
    check(device.getHardwareKey() == "TarnixDDC", "the server's device answers")
    device.setSampleRate(RX, 0, 156250)
    reader = Reader(device, {"remote:format": "CS32", "remote:prot": "tcp"})
    runs = reader.read(3)
    check(len(runs) == 1, "no loss across the network")
    check_run(runs[0], "through SoapyRemote")
    check(runs[0].size > 0.8 * 3 * 156250, "%d pairs through SoapyRemote" % runs[0].size)
    reader.close()
    del reader, device
    sdrpp_sequence(args)
    cubicsdr_sequence(args)


def main():
    case = sys.argv[1] if len(sys.argv) > 1 else ""
    cases = {"util": case_util, "python": case_python, "grc": case_grc, "osmosdr": case_osmosdr, "gqrx": case_gqrx,
             "rtl433": case_rtl433, "rtl433-default": lambda: case_rtl433_default(sys.argv[2:]),
             "sequences": case_sequences, "remote": case_remote,
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
