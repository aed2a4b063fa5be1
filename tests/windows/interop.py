"""The Windows programs under Wine against the Linux ones and pymodbus.

Usage: interop.py --windows-build DIR --linux-build DIR [--package DIR]
       (WINEPREFIX set, wineserver up; DISPLAY an X server for the window)

Every comparison is of kq517poll's CSV, cell for cell, with the simulator's clock
frozen so that both sides see the same values:
  - kq517poll.exe and kq517poll polling the Linux kq517sim over loopback TCP;
  - both polling pymodbus's TCP server;
  - kq517poll.exe on a Wine COM port (a pseudo-terminal pair made by socat) polling a
    pymodbus RTU slave, against kq517poll polling pymodbus over TCP; a slave that
    never answers gives the poller's time-out text;
  - kq517sim.exe serving TCP and a Wine COM port, polled by the Linux poller, against
    the Linux kq517sim;
  - RTU over TCP: kq517poll.exe on a tcp:// port polling the Linux kq517sim
    --rtu-over-tcp (a refused one names the address), and kq517sim.exe --rtu-over-tcp
    polled by the Linux poller, each against the Linux poller over Modbus TCP.
  - with --package (the package folder of scripts/build-windows.sh): the window
    Test_KQ517T.exe polling the Linux kq517sim with --start, its values read back from
    its own recording (File > Registra..., driven with xdotool like a user) against the
    Linux poller's, then closed with File > Esci; and the installer, which installs the
    folder with its Start-menu entry and uninstaller and whose uninstaller leaves the
    user's settings and files alone.
A missing peer (pymodbus, socat) fails the run unless KQ_SKIP_PEERS=1.
Ends with the line "N passed, N failed".
"""
import argparse
import csv
import getpass
import glob
import io
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
PYTHON = "/usr/bin/python3"
PYMODBUS_SERVER = os.path.join(SOURCE, "tests/support/peers/pymodbus_server.py")
CLOCK = "2026-12-08T10:20:30"
TIMEOUT = 90


class Failure(Exception):
    pass


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.1)
    raise Failure("gave up waiting for " + what)


def accepting(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
            return True
    except OSError:
        return False


def run(command, cwd=None, expect_ok=True):
    result = subprocess.run(command, cwd=cwd, capture_output=True, timeout=TIMEOUT, text=True,
                            encoding="utf-8", errors="replace")
    if expect_ok and result.returncode != 0:
        raise Failure("%s exited with %d: %s" % (" ".join(command), result.returncode, result.stderr))
    return result


def rows(text):
    return [row for row in csv.reader(io.StringIO(text)) if row]


def same_cells(windows, linux, what):
    a, b = rows(windows), rows(linux)
    if not b:
        raise Failure(what + ": the Linux poller printed nothing")
    if len(a) != len(b):
        raise Failure("%s: %d rows on Windows, %d on Linux" % (what, len(a), len(b)))
    for number, (x, y) in enumerate(zip(a, b)):
        if x != y:
            raise Failure("%s: row %d differs:\n  windows %s\n  linux   %s" % (what, number, x, y))


class Background:
    """A process that runs while the test needs it and is always ended."""

    def __init__(self, command, cwd=None):
        self.process = subprocess.Popen(command, cwd=cwd, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True)

    def first_line_with(self, text):
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline:
            line = self.process.stdout.readline()
            if not line:
                raise Failure("%s ended early" % self.process.args[0])
            if text in line:
                return line
        raise Failure("no line with " + text)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def windows_path(path):
    """A Linux path as Wine's drive Z: shows it."""
    return "Z:" + path.replace("/", "\\")


def files_in(folder):
    return sorted(os.path.relpath(os.path.join(d, f), folder) for d, _, names in os.walk(folder) for f in names)


def recorded_rows(path):
    try:
        with open(path, encoding="utf-8-sig") as f:
            return rows(f.read())
    except OSError:
        return []


class Suite:
    def __init__(self, windows_build, linux_build, package=None):
        windows_build, linux_build = os.path.abspath(windows_build), os.path.abspath(linux_build)
        self.poll_exe = os.path.join(windows_build, "app/cli/kq517poll/kq517poll.exe")
        self.sim_exe = os.path.join(windows_build, "app/cli/kq517sim/kq517sim.exe")
        self.poll = os.path.join(linux_build, "app/cli/kq517poll/kq517poll")
        self.sim = os.path.join(linux_build, "app/cli/kq517sim/kq517sim")
        self.package = os.path.abspath(package) if package else None
        self.prefix = os.environ["WINEPREFIX"]
        self.folder = tempfile.mkdtemp(prefix="kq517-wine-interop.")
        self.running = []
        self.next_com = 5

    def start(self, command, cwd=None):
        process = Background(command, cwd)
        self.running.append(process)
        return process

    def close(self):
        for process in reversed(self.running):
            process.stop()
        self.running = []

    def wine(self, program, *arguments):
        return ["wine", program] + list(arguments)

    def com_port(self):
        """A pseudo-terminal pair; Wine's next COM port is one end. Returns (COMn, other end)."""
        name = "com%d" % self.next_com
        self.next_com += 1
        a, b = os.path.join(self.folder, name + "-wine"), os.path.join(self.folder, name + "-linux")
        self.start(["socat", "pty,raw,echo=0,link=" + a, "pty,raw,echo=0,link=" + b])
        wait_for(lambda: os.path.exists(a) and os.path.exists(b), 20, "socat's pseudo-terminals")
        link = os.path.join(self.prefix, "dosdevices", name)
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(os.path.realpath(a), link)
        return name.upper(), b

    def linux_sim(self):
        port = free_port()
        sim = self.start([self.sim, "--tcp", "127.0.0.1:%d" % port, "--clock", CLOCK])
        sim.first_line_with("Modbus TCP on")
        return port

    def pymodbus_registers_map(self):
        """A map within pymodbus's 200 registers and values that exercise each decoder."""
        folder = tempfile.mkdtemp(dir=self.folder)
        with open(os.path.join(folder, "map.cfg"), "w") as f:
            f.write("1-0:32.7.0|F|Tensione L1 (V)\n1-0:14.7.0|f|Frequenza (Hz)\n"
                    "1-0:1.8.0|I|Energia attiva (Wh)\n0-0:1.0.0|D|Data\n0-0:1.0.1|T|Ora\n"
                    "0-0:96.1.0|i|Stato\n")
        registers = ["0=0x0105", "3=0xD000", "4=0x406C", "6=0x4248", "7=0xFB2E", "8=0xFFFF",
                     "9=0xD703", "10=0x0134", "11=0x9983", "12=0x0003", "13=0xBEEF"]
        return folder, registers

    def need_package(self):
        if self.package is None:
            raise Failure("no --package folder to test")
        return self.package

    def x_window(self, title):
        """The X window of the Wine window whose title holds title, once it is shown."""
        found = []

        def shown():
            found[:] = run(["xdotool", "search", "--onlyvisible", "--name", title], expect_ok=False).stdout.split()
            return bool(found)

        wait_for(shown, TIMEOUT, "a window titled " + title)
        return found[0]

    def keys(self, window, *keys):
        """Keys typed into a window, as a user would, one after the other."""
        run(["xdotool", "windowfocus", window])
        time.sleep(0.5)
        for key in keys:
            run(["xdotool", "key", key])
            time.sleep(0.4)

    # ---- the tests

    def test_poll_exe_against_linux_sim(self):
        port = self.linux_sim()
        for options in ([], ["--meter", "3", "--float32", "--byte-order", "3-2-1-0"], ["--meter", "5"]):
            common = ["--tcp", "127.0.0.1:%d" % port, "--format", "csv"] + options
            same_cells(run(self.wine(self.poll_exe, *common)).stdout, run([self.poll] + common).stdout,
                       "kq517sim " + " ".join(options))

    def test_poll_exe_against_pymodbus_tcp(self):
        folder, registers = self.pymodbus_registers_map()
        port = free_port()
        self.start([PYTHON, PYMODBUS_SERVER, str(port)] + registers)
        wait_for(lambda: accepting(port), 30, "pymodbus's TCP server")
        common = ["--tcp", "127.0.0.1:%d" % port, "--format", "csv", "--byte-order", "1-0-3-2"]
        windows = run(self.wine(self.poll_exe, *common), cwd=folder).stdout
        same_cells(windows, run([self.poll] + common, cwd=folder).stdout, "pymodbus TCP")
        if ",230.5," not in windows:
            raise Failure("pymodbus TCP: 230.5 not decoded:\n" + windows)

    def test_windows_serial_layer_against_pymodbus_rtu(self):
        folder, registers = self.pymodbus_registers_map()
        com, line = self.com_port()
        self.start([PYTHON, PYMODBUS_SERVER, "--baud", "115200", line]
                   + registers)
        port = free_port()
        self.start([PYTHON, PYMODBUS_SERVER, str(port)] + registers)
        wait_for(lambda: accepting(port), 30, "pymodbus's TCP server")
        serial = ["--serial", com, "--format", "csv", "--count", "2", "--interval", "0"]
        result = None
        for _ in range(20):  # pymodbus needs a moment to open its end of the line
            result = run(self.wine(self.poll_exe, *serial), cwd=folder, expect_ok=False)
            if result.returncode == 0:
                break
            time.sleep(0.5)
        if result.returncode != 0:
            raise Failure("kq517poll.exe over %s: %s" % (com, result.stderr))
        tcp = ["--tcp", "127.0.0.1:%d" % port, "--format", "csv", "--count", "2", "--interval", "0"]
        same_cells(result.stdout, run([self.poll] + tcp, cwd=folder).stdout, "pymodbus RTU on " + com)
        # A slave that never answers: the wait for the reply ends at the time-out.
        silent = run(self.wine(self.poll_exe, "--serial", com, "--slave", "9"), cwd=folder, expect_ok=False)
        if silent.returncode == 0 or "Nessuna Risposta" not in silent.stderr:
            raise Failure("silent slave on %s: exit %d, %r" % (com, silent.returncode, silent.stderr))

    def test_sim_exe_serves_tcp_and_a_com_port(self):
        linux_port = self.linux_sim()
        com, line = self.com_port()
        port = free_port()
        sim = self.start(self.wine(self.sim_exe, "--tcp", "127.0.0.1:%d" % port, "--clock", CLOCK,
                                   "--serial", com))
        sim.first_line_with("Modbus RTU on")
        wait_for(lambda: accepting(port), 30, "kq517sim.exe's TCP port")
        reference = run([self.poll, "--tcp", "127.0.0.1:%d" % linux_port, "--format", "csv"]).stdout
        same_cells(run([self.poll, "--tcp", "127.0.0.1:%d" % port, "--format", "csv"]).stdout, reference,
                   "kq517sim.exe over TCP")
        same_cells(run([self.poll, "--serial", line, "--format", "csv"]).stdout, reference,
                   "kq517sim.exe over " + com)

    def test_rtu_over_tcp_both_ways(self):
        linux_port, linux_line = free_port(), free_port()
        sim = self.start([self.sim, "--tcp", "127.0.0.1:%d" % linux_port, "--clock", CLOCK,
                          "--rtu-over-tcp", "127.0.0.1:%d" % linux_line])
        sim.first_line_with("over TCP on")
        reference = run([self.poll, "--tcp", "127.0.0.1:%d" % linux_port, "--format", "csv"]).stdout
        same_cells(run(self.wine(self.poll_exe, "--serial", "tcp://127.0.0.1:%d" % linux_line,
                                 "--format", "csv")).stdout, reference, "kq517poll.exe over tcp://")
        refused = run(self.wine(self.poll_exe, "--serial", "tcp://127.0.0.1:%d" % free_port()),
                      expect_ok=False)
        if refused.returncode == 0 or "Could not connect to tcp://127.0.0.1:" not in refused.stderr:
            raise Failure("a refused tcp:// port: exit %d, %r" % (refused.returncode, refused.stderr))
        # kq517sim.exe answers only with its serial line open: a Wine COM port.
        com, _ = self.com_port()
        port, line = free_port(), free_port()
        sim_exe = self.start(self.wine(self.sim_exe, "--tcp", "127.0.0.1:%d" % port, "--clock", CLOCK,
                                       "--serial", com, "--rtu-over-tcp", "127.0.0.1:%d" % line))
        sim_exe.first_line_with("over TCP on")
        wait_for(lambda: accepting(port), 30, "kq517sim.exe's TCP port")
        same_cells(run([self.poll, "--serial", "tcp://127.0.0.1:%d" % line, "--format", "csv"]).stdout,
                   reference, "kq517sim.exe --rtu-over-tcp")

    def test_window_polls_the_linux_sim_like_the_linux_poller(self):
        package = self.need_package()
        port = self.linux_sim()
        record = os.path.join(tempfile.mkdtemp(dir=self.folder), "valori.csv")
        window = self.start(["timeout", str(TIMEOUT), "wine", os.path.join(package, "Test_KQ517T.exe"),
                             "--tcp", "127.0.0.1:%d" % port, "--start"], cwd=package)
        main = self.x_window("Test VIVAR517")
        # File > Registra... (above Esporta griglia, Profili and Esci), into the file named
        # in its dialog.
        self.keys(main, "alt+f", "Up", "Up", "Up", "Up", "Return")
        dialog = self.x_window("Registra i valori")
        self.keys(dialog, "End", "shift+Home")  # the proposed name, replaced by what is typed
        run(["xdotool", "type", "--delay", "30", windows_path(record)])
        self.keys(dialog, "Return")
        wait_for(lambda: len(recorded_rows(record)) >= 3, 60, "two cycles in the window's recording")
        self.keys(main, "alt+f", "Up", "Return")  # File > Esci
        try:
            code = window.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            raise Failure("File > Esci did not close the window")
        if code != 0:
            raise Failure("the window exited with %d" % code)

        poller = rows(run([self.poll, "--tcp", "127.0.0.1:%d" % port, "--format", "csv"], cwd=package).stdout)
        expected = [row[3] for row in poller[1:]]
        recorded = recorded_rows(record)
        for cycle in recorded[1:]:
            values, error = cycle[2:-1], cycle[-1]
            if error or values != expected:
                raise Failure("the window recorded %s (error %r), the Linux poller read %s" % (values, error, expected))

    def test_installer_installs_the_package_and_its_uninstaller_keeps_the_users_files(self):
        package = self.need_package()
        setups = glob.glob(os.path.join(os.path.dirname(package), "kq517-*-setup.exe"))
        if len(setups) != 1:
            raise Failure("no single installer beside the package folder: %s" % setups)
        drive = os.path.join(self.prefix, "drive_c")
        folder = os.path.join(drive, "Program Files", "KQ517")
        shortcut = os.path.join(drive, "ProgramData", "Microsoft", "Windows", "Start Menu", "Programs", "KQ517",
                                "Test_KQ517T.lnk")
        key = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KQ517"
        run(["timeout", str(TIMEOUT), "wine", setups[0], "/S"])
        if files_in(folder) != sorted(files_in(package) + ["Uninstall.exe"]):
            raise Failure("installed %s, the package holds %s" % (files_in(folder), files_in(package)))
        if not os.path.exists(shortcut):
            raise Failure("no Start-menu entry " + shortcut)
        if "Uninstall.exe" not in run(["wine", "reg", "query", key], expect_ok=False).stdout:
            raise Failure("no uninstaller registered under " + key)

        # What the user made: the window's settings and a map file of their own.
        settings = os.path.join(drive, "users", getpass.getuser(), "AppData", "Roaming", "KQ517", "Test_KQ517T.ini")
        os.makedirs(os.path.dirname(settings), exist_ok=True)
        for path in (settings, os.path.join(folder, "mine.cfg")):
            with open(path, "w") as f:
                f.write("kept\n")
        # The uninstaller runs on from a copy of itself, so its end is seen in the folder.
        run(["timeout", str(TIMEOUT), "wine", os.path.join(folder, "Uninstall.exe"), "/S"])
        wait_for(lambda: files_in(folder) == ["mine.cfg"], 60, "the uninstaller to remove the package")
        if not os.path.exists(settings) or os.path.exists(shortcut):
            raise Failure("after uninstalling: settings kept %s, Start-menu entry kept %s"
                          % (os.path.exists(settings), os.path.exists(shortcut)))
        if run(["wine", "reg", "query", key], expect_ok=False).returncode == 0:
            raise Failure("the uninstaller left " + key)


def peers_missing():
    missing = []
    if subprocess.run([PYTHON, "-c", "import pymodbus.server, serial_asyncio"], capture_output=True).returncode:
        missing.append("python3-pymodbus python3-serial-asyncio")
    if shutil.which("socat") is None:
        missing.append("socat")
    if shutil.which("xdotool") is None:
        missing.append("xdotool")
    return missing


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--windows-build", required=True)
    parser.add_argument("--linux-build", required=True)
    parser.add_argument("--package")
    options = parser.parse_args()
    missing = peers_missing()
    if missing:
        if os.environ.get("KQ_SKIP_PEERS") == "1":
            print("skipped: peers missing (%s)" % ", ".join(missing))
            print("0 passed, 0 failed")
            return 0
        print("missing peers: install " + " ".join(missing) + " (or set KQ_SKIP_PEERS=1)")
        print("0 passed, 1 failed")
        return 1
    suite = Suite(options.windows_build, options.linux_build, options.package)
    passed = failed = 0
    try:
        for name in sorted(n for n in dir(suite) if n.startswith("test_")):
            started = time.monotonic()
            try:
                getattr(suite, name)()
                passed += 1
                print("PASS %s (%.1f s)" % (name, time.monotonic() - started), flush=True)
            except Exception as error:
                failed += 1
                print("FAIL %s: %s" % (name, error), flush=True)
                if not isinstance(error, Failure):
                    traceback.print_exc()
            finally:
                suite.close()
    finally:
        shutil.rmtree(suite.folder, ignore_errors=True)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
