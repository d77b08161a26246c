"""The browser engines Debian offers, behind one interface, for the web page's end-to-end test, its
bench and its screenshot: Chromium, Firefox ESR and WebKitGTK. Each runs on the display of the
environment it is given (a private Xvfb: nothing shows), lists every request a page made, and
leaves no process behind when it quits. Scripts are function bodies as WebDriver runs them:
`arguments` holds their arguments, and an async script's last argument takes its result."""

import base64
import ctypes
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import threading

import websocket  # python3-websocket
from selenium import webdriver
from selenium.webdriver.chrome.service import Service as ChromeService
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.actions.action_builder import ActionBuilder
from selenium.webdriver.webkitgtk.service import Service as WebKitService

from xsession import Failure, poll

STARTUP = 60  # seconds for a browser to start on a busy machine


def _processes(under, skip):
    """{pid: (name, state)} of every process below `under`, not looking below those in `skip`."""
    table = {}
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
        except OSError:  # ended meanwhile
            continue
        state, parent = stat[stat.rindex(")") + 2:].split()[:2]
        table[int(entry)] = (int(parent), stat[stat.index("(") + 1:stat.rindex(")")], state)
    found, todo = {}, [under]
    while todo:
        parent = todo.pop()
        for pid, (ppid, name, state) in table.items():
            if ppid == parent and pid not in skip:
                found[pid] = (name, state)
                todo.append(pid)
    return found



def selector(name):
    """A CSS selector as given, or for a bare word the part of that name of the page's player."""
    return ".meshplay ." + name if name.isidentifier() else name

class Browser:
    def __init__(self, env, scale=1, served=False):
        self.scale = scale  # device pixels to a CSS pixel, where the engine can be told
        # The page comes from a server on this machine, which the browser must reach: WebKitGTK
        # then goes without its recording proxy (and lists no requests).
        self.served = served
        # Browsers leave helpers that outlive their parent (a web process, a network process): as
        # the processes' subreaper this one inherits them instead of init, so quit() finds them.
        ctypes.CDLL(None).prctl(36, ctypes.c_ulong(1))  # PR_SET_CHILD_SUBREAPER
        self._before = set(_processes(os.getpid(), ()))
        self.folder = tempfile.mkdtemp(prefix="meshplay-browser-")
        try:
            self._start(env)
        except BaseException:
            self._end(0)
            raise

    def click(self, element, x=None, y=None):
        """A real left click at (x, y) pixels from the top-left corner of the element that the CSS
        selector names (the first), by default its centre; a bare word names a part of the page's
        player (".meshplay .picture")."""
        left, top, width, height = self.run(
            "const e = document.querySelector(arguments[0]);"
            "e.scrollIntoView({block: 'nearest', inline: 'nearest'});"
            "const r = e.getBoundingClientRect();"
            "return [r.left, r.top, r.width, r.height];", selector(element))
        self._click(left + (width / 2 if x is None else x), top + (height / 2 if y is None else y))

    def wide(self):
        """How wide the page's viewport is, in CSS pixels."""
        return self.run("return document.documentElement.clientWidth")

    def pixels(self, canvas):
        """(width, height, RGB bytes row by row) of the canvas `click` names so, on white, read in the
        second animation frame from now: what the page was asked to draw has been drawn, and a
        WebGL canvas still holds it."""
        width, height, url = self.run_async(
            "const [name, done] = arguments, c = document.querySelector(name);"
            "requestAnimationFrame(() => requestAnimationFrame(() =>"
            "  done([c.width, c.height, c.toDataURL('image/png')])));", selector(canvas))
        rgb = subprocess.run(["convert", "png:-", "-background", "white", "-flatten", "rgb:-"],
                             input=base64.b64decode(url.split(",", 1)[1]), capture_output=True,
                             check=True).stdout
        return width, height, rgb

    def quit(self):
        try:
            self._quit()
        finally:
            left = self._end(20)
        if left:
            raise Failure("the browser left processes behind: %s" % left)

    def _end(self, patience):
        """Waits up to `patience` seconds for the browser's processes to end, ends those left and
        returns their names; removes its folder."""
        def left():  # reaps those that ended and are ours to reap, returns the others
            found = {}
            for pid, (name, state) in _processes(os.getpid(), self._before).items():
                try:
                    if state == "Z" and os.waitpid(pid, os.WNOHANG)[0] == pid:
                        continue
                except ChildProcessError:  # its parent's to reap, which has yet to end
                    pass
                found[pid] = name
            return found
        try:
            poll(lambda: not left(), patience, "the browser's processes to end")
            names = {}
        except Failure:
            names = left()
            for pid in names:
                os.kill(pid, signal.SIGKILL)
            poll(lambda: not left(), 20, "the processes left behind to end")
        shutil.rmtree(self.folder, ignore_errors=True)
        return sorted(names.values())


class Proxy:
    """A proxy that forwards nothing: a listener that records the target of every request a
    browser sends it (a URL, or the host:port of a tunnel for https) and refuses each one."""

    def __init__(self):
        self._listener = socket.create_server(("127.0.0.1", 0))
        self.address = "http://127.0.0.1:%d" % self._listener.getsockname()[1]
        self.asked = []
        threading.Thread(target=self._record, daemon=True).start()

    def _record(self):
        while True:
            try:
                conn, _ = self._listener.accept()
            except OSError:  # closed
                return
            with conn:
                try:
                    conn.settimeout(5)
                    line = conn.recv(4096).split(b"\r\n")[0].decode(errors="replace").split()
                    self.asked.append(line[1] if len(line) > 1 else "a connection: %r" % line)
                    conn.sendall(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n")
                except OSError:
                    pass

    def close(self):
        self._listener.shutdown(socket.SHUT_RDWR)  # wakes the accept() above
        self._listener.close()


class _Selenium(Browser):
    """An engine with a WebDriver server of its own, driven by selenium (self.d)."""

    def open(self, url):
        self.d.get(url)

    def run(self, script, *args):
        return self.d.execute_script(script, *args)

    def run_async(self, script, *args):
        return self.d.execute_async_script(script, *args)

    def key(self, key):
        ActionChains(self.d).send_keys(key).perform()

    def _click(self, x, y):
        actions = ActionBuilder(self.d)
        actions.pointer_action.move_to_location(round(x), round(y)).click()
        actions.perform()

    def screenshot(self):
        return self.d.get_screenshot_as_png()

    def viewport(self, width, height):
        """About this many CSS pixels of page: the window, less what little the browser adds."""
        self.d.set_window_size(width, height)


class Chromium(_Selenium):
    """Headless: its own WebGL 2 (SwiftShader) needs no display. Its performance log holds every
    request of a page's documents (not of its workers: Firefox and WebKitGTK see those)."""

    FLAGS = ("--headless=new", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
             "--window-size=1024,900", "--no-sandbox",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync",
             # It looks up and calls its services all the same (updates, accounts, the search
             # engine): no name but the machine's own resolves, so nothing leaves it.
             "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1")

    def _start(self, env):
        options = webdriver.ChromeOptions()
        for flag in self.FLAGS + ("--user-data-dir=" + self.folder,
                                  "--force-device-scale-factor=%g" % self.scale):
            options.add_argument(flag)
        options.binary_location = "/usr/bin/chromium"
        options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
        self.d = webdriver.Chrome(service=ChromeService("/usr/bin/chromedriver", env=env),
                                  options=options)
        self._asked = []

    def requests(self):
        for entry in self.d.get_log("performance"):  # each entry is read once
            m = json.loads(entry["message"])["message"]
            if m["method"] == "Network.webSocketCreated":  # not among the requests
                self._asked.append(m["params"]["url"])
            elif (m["method"] == "Network.requestWillBeSent"
                    and not m["params"].get("documentURL", "").startswith("chrome:")):
                self._asked.append(m["params"]["request"]["url"])  # its own start page's aside
        return list(self._asked)

    def _quit(self):
        self.d.quit()


class WebKitGTK(_Selenium):
    """MiniBrowser, WebKitGTK's browser (WebKitWebDriver's own choice), on the display. Nothing in
    WebKitWebDriver reports the network, so the browser sends every request (http, https, ws)
    to a Proxy."""

    def _start(self, env):
        self.proxy = Proxy()
        options = webdriver.WebKitGTKOptions()
        options.add_argument("--automation")
        if not self.served:
            options.add_argument("--proxy=" + self.proxy.address)
            options.add_argument("--ignore-host=")  # no host bypasses it, 127.0.0.1 included
        # webdriver.WebKitGTK would start WebKitWebDriver in this process's environment, not on
        # the display given, so the service is started here and selenium connects to it.
        self.service = WebKitService("/usr/bin/WebKitWebDriver", env=env)
        self.service.start()
        self.d = webdriver.Remote(self.service.service_url, options=options)

    def requests(self):
        return list(self.proxy.asked)

    def _quit(self):
        try:
            self.d.quit()
        finally:
            self.service.stop()
            self.proxy.close()


class Firefox(Browser):
    """The system's Firefox ESR on the display: headless, it offers no WebGL 2. Debian packages no
    geckodriver, so this speaks WebDriver BiDi, which Firefox serves itself, over a WebSocket;
    BiDi's network events name every request a page makes beyond file: addresses."""

    # Firefox's own traffic (updates, remote settings, plugins, safe browsing, checks of the
    # connection): kept off, as it would go out while the tests run.
    PREFS = {
        "app.update.disabledForTesting": True,
        "services.settings.server": "data:,#remote-settings-dummy/v1",  # with the variable below
        "media.gmp-manager.updateEnabled": False,
        "browser.safebrowsing.update.enabled": False,
        "network.connectivity-service.enabled": False,
        "network.captive-portal-service.enabled": False,
        "datareporting.policy.dataSubmissionEnabled": False,
        "browser.shell.checkDefaultBrowser": False,
        "browser.startup.homepage_override.mstone": "ignore",
    }

    def _start(self, env):
        profile = os.path.join(self.folder, "profile")
        os.mkdir(profile)
        with open(os.path.join(profile, "user.js"), "w") as f:
            f.writelines("user_pref(%s, %s);\n" % (json.dumps(k), json.dumps(v))
                         for k, v in self.PREFS.items())
        log = os.path.join(self.folder, "firefox.log")
        with open(log, "w") as err:
            subprocess.Popen(["/usr/bin/firefox-esr", "--remote-debugging-port=0", "--profile",
                              profile, "--no-remote", "about:blank"], stdout=subprocess.DEVNULL,
                             stderr=err, env=dict(env, MOZ_REMOTE_SETTINGS_DEVTOOLS="1",
                                                  MOZ_CRASHREPORTER_DISABLE="1"))
        self._asked, self._id = [], 0

        def address():
            with open(log, errors="replace") as f:
                return re.search(r"WebDriver BiDi listening on (ws://\S+)", f.read())
        url = poll(address, STARTUP, "Firefox's WebDriver BiDi address").group(1)
        # Firefox refuses a WebSocket whose handshake names an origin, as a page's would.
        self.ws = websocket.create_connection(url + "/session", timeout=STARTUP,
                                              suppress_origin=True)
        self.call("session.new", capabilities={})
        self.call("session.subscribe", events=["network.beforeRequestSent"])
        self.context = self.call("browsingContext.getTree")["contexts"][0]["context"]

    def call(self, method, **params):
        """One BiDi command; returns its result, keeping the events that come before it."""
        self._id += 1
        self.ws.send(json.dumps({"id": self._id, "method": method, "params": params}))
        while True:
            m = json.loads(self.ws.recv())
            if m.get("method") == "network.beforeRequestSent":
                self._asked.append(m["params"]["request"]["url"])
            elif m.get("id") == self._id:
                if m["type"] == "error":
                    raise Failure("%s: %s: %s" % (method, m["error"], m["message"]))
                return m["result"]

    def _function(self, declaration, args):
        # Values cross as one JSON text each way, so that results read as selenium's do.
        r = self.call("script.callFunction", functionDeclaration=declaration,
                      arguments=[{"type": "string", "value": json.dumps(args)}],
                      target={"context": self.context}, awaitPromise=True)
        if r["type"] == "exception":
            raise Failure("script: " + r["exceptionDetails"]["text"])
        return json.loads(r["result"]["value"]) if r["result"]["type"] == "string" else None

    def open(self, url):
        self.call("browsingContext.navigate", context=self.context, url=url, wait="complete")

    def run(self, script, *args):
        return self._function("async (a) => JSON.stringify(await (function () {%s})"
                              ".apply(null, JSON.parse(a)))" % script, args)

    def run_async(self, script, *args):
        return self._function("(a) => new Promise((done) => (function () {%s})"
                              ".apply(null, [...JSON.parse(a), done])).then(JSON.stringify)"
                              % script, args)

    def key(self, key):
        self.call("input.performActions", context=self.context, actions=[{
            "type": "key", "id": "keyboard",
            "actions": [{"type": "keyDown", "value": key}, {"type": "keyUp", "value": key}]}])

    def _click(self, x, y):
        self.call("input.performActions", context=self.context, actions=[{
            "type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"},
            "actions": [{"type": "pointerMove", "x": round(x), "y": round(y)},
                        {"type": "pointerDown", "button": 0}, {"type": "pointerUp", "button": 0}]}])

    def viewport(self, width, height):
        self.call("browsingContext.setViewport", context=self.context,
                  viewport={"width": width, "height": height})

    def screenshot(self):
        return base64.b64decode(self.call("browsingContext.captureScreenshot",
                                          context=self.context, origin="document")["data"])

    def requests(self):
        self.call("session.status")  # a round trip reads the events sent before it
        return list(self._asked)

    def _quit(self):
        try:
            self.call("browser.close")
        except Exception:  # the connection may close before the answer comes
            pass
        self.ws.close()


ENGINES = {"chromium": Chromium, "firefox": Firefox, "webkitgtk": WebKitGTK}
