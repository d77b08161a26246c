"""What the live server's benches share: the B demo's records, and meshplay-b-serve run in a
folder (or on a study's folders) with its address, memory and CPU time read as it serves."""

import json
import re
import subprocess
import urllib.request

PER_RECORD = 2 + 2 * (1612 + 31)  # profile B's values a record


def split_records(text):
    """The records of a profile-B result file's text, each with the white space after it."""
    ends = [m.end() for m in re.finditer(rb"\S+\s", text)][PER_RECORD - 1::PER_RECORD]
    return [text[a:b] for a, b in zip([0] + ends, ends)]


class Server:
    """meshplay-b-serve of BUILD on a free port, in `folder` or on `study`'s folders."""

    def __init__(self, build, folder, study=()):
        self.proc = subprocess.Popen([build + "/meshplay-b-serve", "--port", "0", *study],
                                     cwd=folder, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL)
        self.url = url = self.proc.stdout.readline().decode().strip()
        self.port = int(re.search(r":(\d+)/", url).group(1))
        self.token = url.split("token=")[1]
        self.base = url.split("?")[0]

    def rss(self):
        """Its memory, in MB."""
        with open("/proc/%d/status" % self.proc.pid) as f:
            return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1)) / 1024

    def cpu(self):
        """Seconds on a CPU so far, to the nanosecond."""
        with open("/proc/%d/schedstat" % self.proc.pid) as f:
            return int(f.read().split()[0]) / 1e9

    def runs(self):
        """A study's runs, as its index reads them."""
        request = urllib.request.Request(self.base + "runs",
                                         headers={"X-Meshplay-Token": self.token})
        with urllib.request.urlopen(request) as response:
            return json.load(response)

    def stop(self):
        self.proc.terminate()
        self.proc.wait()
