"""Opens the built documentation site in headless Chromium, as a reader would.

Serves the site over HTTP on this machine, loads each page, checks its title
and that every picture on it loaded (a natural width above zero), and saves a
screenshot of the whole page beside the site. Exits with status 1 if a check
fails.

Usage: python tools/docs_browser.py SITE_DIRECTORY SCREENSHOT_DIRECTORY
Needs selenium, and Debian's chromium and chromium-driver (tools/docs.sh
installs them).
"""

import functools
import http.server
import pathlib
import sys
import threading

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

# Each page, with the start of its title and the pictures it must show.
PAGES = {
    "index.html": ("velmo_wrapper", 3),
    "api.html": ("velmo_wrapper reference", 2),
}
WIDTH = 1280
# Taller screenshots than this are cut: Chromium's limit for one capture.
MOST_HEIGHT = 16000

PICTURES = """
return Array.from(document.images, image => ({
    source: image.getAttribute("src"),
    loaded: image.complete,
    width: image.naturalWidth,
}));
"""


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass  # one line per request would bury the checks' output


def serve(directory):
    """An HTTP server of `directory` on a free local port, running in a thread."""
    handler = functools.partial(QuietHandler, directory=str(directory))
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    # As root Chromium refuses to start inside its own sandbox; a container's
    # /dev/shm is often too small for it.
    for flag in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu"):
        options.add_argument(flag)
    options.add_argument(f"--window-size={WIDTH},900")
    return webdriver.Chrome(options=options, service=Service("/usr/bin/chromedriver"))


def check_page(driver, url, title, pictures, screenshot):
    """The problems of the page at `url`, after saving its screenshot."""
    driver.get(url)
    problems = []
    if not driver.title.startswith(title):
        problems.append(f"title {driver.title!r}, not {title!r}")
    found = driver.execute_script(PICTURES)
    for picture in found:
        state = "loaded" if picture["loaded"] and picture["width"] > 0 else "NOT LOADED"
        print(f"  {picture['source']}: natural width {picture['width']} px, {state}")
        if state != "loaded":
            problems.append(f"{picture['source']} did not load")
    if len(found) != pictures:
        problems.append(f"{len(found)} pictures, not {pictures}")
    height = driver.execute_script("return document.documentElement.scrollHeight")
    driver.set_window_size(WIDTH, min(height, MOST_HEIGHT))
    driver.save_screenshot(str(screenshot))
    print(f"  screenshot {screenshot} ({WIDTH} x {min(height, MOST_HEIGHT)})")
    return problems


def main(site, screenshots):
    server = serve(site)
    driver = browser()
    problems = []
    try:
        print(f"chromium {driver.capabilities.get('browserVersion')}")
        for page, (title, pictures) in PAGES.items():
            url = f"http://127.0.0.1:{server.server_port}/{page}"
            print(f"{page}: {url}")
            screenshot = pathlib.Path(screenshots) / f"{pathlib.Path(page).stem}.png"
            found = check_page(driver, url, title, pictures, screenshot)
            problems += [f"{page}: {problem}" for problem in found]
    finally:
        driver.quit()
        server.shutdown()
    for problem in problems:
        print(f"docs: {problem}")
    print(f"docs: {len(PAGES)} pages checked in the browser, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
