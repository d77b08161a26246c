"""Saves a screenshot of a meshplay web page as headless Chromium shows it, at a step, with the
colour on and one node's history plotted, for the README.

    python3 scripts/page_shot.py PAGE OUT.png STEP NODE_X NODE_Y

NODE_X and NODE_Y are the pixel, in the 300 x 300 picture, of the node to click."""

import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

page, out, step, x, y = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5]
options = webdriver.ChromeOptions()
for flag in ("--headless=new", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
             "--force-device-scale-factor=1", "--no-sandbox", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--window-size=660,860", "--user-data-dir=" + tempfile.mkdtemp()):
    options.add_argument(flag)
options.binary_location = "/usr/bin/chromium"
d = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
try:
    d.get("file://" + page + "#step=%d" % step)
    while not d.execute_script("return !!(window.meshplay && meshplay.ready)"):
        time.sleep(0.05)
    d.execute_script("""
        document.getElementById("colour").click();
        const r = meshplay.canvas.getBoundingClientRect();
        meshplay.canvas.dispatchEvent(new MouseEvent("click",
            {clientX: r.left + arguments[0], clientY: r.top + arguments[1], bubbles: true}));
        """, float(x), float(y))
    time.sleep(0.5)
    d.save_screenshot(out)
    print("saved " + out)
finally:
    d.quit()
