"""Saves a screenshot of a meshplay web page as a browser engine shows it (browsers.py, under a
private Xvfb), at a step, with the colour on and one node's history plotted, for the README.

    python3 scripts/page_shot.py PAGE OUT.png STEP NODE_X NODE_Y [ENGINE]

NODE_X and NODE_Y are the pixel, in the 300 x 300 picture, of the node to click; ENGINE is one of
chromium (the default), firefox and webkitgtk."""

import os
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import browsers  # noqa: E402
import xsession  # noqa: E402

page, out, step, x, y = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5]
engine = sys.argv[6] if len(sys.argv) > 6 else "chromium"
server, env = xsession.xvfb()
try:
    b = browsers.ENGINES[engine](env)
    try:
        b.open("file://" + os.path.abspath(page) + "#step=%d" % step)
        xsession.poll(lambda: b.run("return !!(window.meshplay && meshplay.ready)"), 60,
                      "the page to be ready")
        b.click("colour")
        b.click("picture", float(x), float(y))
        b.pixels("history")  # two frames on: the plot is drawn
        with open(out, "wb") as f:
            f.write(b.screenshot())
        print("saved " + out)
    finally:
        b.quit()
finally:
    xsession.end(server)
