#!/usr/bin/python3
"""The leaderboard page in a real browser (Debian's Chromium with its defaults, driven by
Selenium): its rows are orvantis-rank's, a file rewritten in place changes its row in the open
page within a second without a reload, search and paging work by keyboard and without
JavaScript, searches typed one after another load at once and pages brought back with Back are
live, hostile and very long names are text and nothing more and fit a phone, axe-core finds no
serious fault light or dark, and a lost connection is said once. Saves screenshots at 360 px
(light and dark) and 1280 px wide.

    serve_browser_test.py ORVANTIS_SERVE ORVANTIS_RANK ORVANTIS_GENERATE OUTPUT_FOLDER

Everything it talks to is the server it starts on 127.0.0.1. Exits 77 (skipped) when Chromium,
its driver or Selenium is not installed."""

import json
import os
import re
import subprocess
import sys
import tempfile
import time

try:
    from selenium import webdriver
    from selenium.common.exceptions import NoAlertPresentException, TimeoutException
    from selenium.webdriver.chrome.options import Options
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
except ImportError:
    print("python3-selenium is not installed")
    sys.exit(77)

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "support"))
from servetest import check, end, start_serve, stop  # noqa: E402

SERVE, RANK, GENERATE, OUTPUT = sys.argv[1:5]
AXE = subprocess.run([os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "fetch-axe-core"),
                      "--path"], capture_output=True, text=True, check=True).stdout.strip()
CHROMIUM, DRIVER = "/usr/bin/chromium", "/usr/bin/chromedriver"
if not (os.access(CHROMIUM, os.X_OK) and os.access(DRIVER, os.X_OK)):
    print("chromium or chromium-driver is not installed")
    sys.exit(77)

# Names players choose to break pages, and a file in Windows-1252.
HOSTILE = {
    "h1.ini": "<img src=x onerror=alert(1)>",
    "h2.ini": '"><script>alert(2)</script>',
    "h3.ini": "a&b 'single' \"double\" <b>bold</b>",
    "h4.ini": "bell\x07 line\u2028paragraph\u2029end",
    "h5.ini": "\u202egnp.exe\u202c tail",
}
# Names as long as a file may hold, at the top of the ranking with ten-digit levels.
LONG = {f"long{i}.ini": ("Ω" if i else "W") * 300 for i in range(2)}
SEARCHES = [f"abc{i}" for i in range(12)]


def write_account(folder, name, login, level, character="Hero", encoding="utf-8"):
    with open(os.path.join(folder, "accounts", name), "wb") as f:
        f.write(f"[GENERAL]\nLogin={login}\n[CHAR1]\nLevel={level}\nName={character}\n".encode(encoding))


def main():
    work = tempfile.mkdtemp()
    subprocess.run([GENERATE, work, "250", "3"], check=True, stdout=subprocess.DEVNULL)
    for i, (name, text) in enumerate(HOSTILE.items()):
        write_account(work, name, text, 5000 + i, character=text)
    write_account(work, "cp1252.ini", "Br\u00f6tchen", 4000, character="Gr\u00fc\u00df Gott", encoding="cp1252")
    for i, (name, text) in enumerate(LONG.items()):
        write_account(work, name, text, 2000000000 + i, character=text)
    for i, text in enumerate(SEARCHES):
        write_account(work, f"{text}.ini", text, 100 + i)

    servers = []

    def start(port=0):
        """The server on `port` (any when 0), once it has read the folder: its port."""
        # With a history, as the packaged service runs: each row says how it moved.
        server, port, _ = start_serve(SERVE, ["--history", os.path.join(work, "history.db"), work],
                                      port=port)
        servers.append(server)
        return port

    try:
        port = start()
        run_browser(f"http://127.0.0.1:{port}/", work, servers[-1], lambda: start(port))
    finally:
        for server in servers:
            stop(server)
    end()
    print("all checks passed")


def rank_rows(work):
    """orvantis-rank's rows, as the page shows them: rank, login, level (empty for 0), slot, name."""
    rows = json.loads(subprocess.run([RANK, "--format", "json", work], capture_output=True, check=True).stdout)
    return [[str(i + 1), r["login"], "" if r["level"] == 0 else str(r["level"]), r["slot"], r["name"]]
            for i, r in enumerate(rows)]


def shown_rows(driver):
    return driver.execute_script(
        "return Array.from(document.querySelectorAll('#ranking tbody tr'),"
        " tr => Array.from(tr.cells, td => td.textContent).slice(0, 5));")


def no_dialog(driver):
    try:
        driver.switch_to.alert
        return False
    except NoAlertPresentException:
        return True


def run_browser(url, work, server, restart):
    options = Options()
    options.binary_location = CHROMIUM
    for argument in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--disable-dev-shm-usage", "--user-data-dir=" + os.path.join(work, "chromium")]:
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service(DRIVER), options=options)
    try:
        driver.set_page_load_timeout(20)
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                               {"width": 1280, "height": 900, "deviceScaleFactor": 1, "mobile": False})
        driver.get(url)
        expected = rank_rows(work)
        check(shown_rows(driver) == expected[:100], "the first page's rows are orvantis-rank's first 100")

        # Hostile names: text in their cells, no element of theirs, no dialog.
        cells = driver.execute_script(
            "return Array.from(document.querySelectorAll('#ranking td'), td => td.textContent);")
        for text in HOSTILE.values():
            check(text in cells, f"the name {text!r} shows as it is")
        check("Br\u00f6tchen" in cells and "Gr\u00fc\u00df Gott" in cells, "a Windows-1252 file's names show")
        check(driver.execute_script("return document.querySelectorAll('img, b, script:not([src])').length") == 0,
              "no name makes an element")
        check(driver.execute_script("return document.querySelectorAll('td:not(.moved) *').length") == 0,
              "cells hold text only")
        check(driver.execute_script(
            "return Array.from(document.querySelectorAll('#ranking tbody tr'),"
            " tr => tr.cells[5].textContent).every(t => t === 'not ranked yesterday')"),
            "each row says in words how it moved: not ranked a day before the history began")
        check(no_dialog(driver), "no name raises a dialog")

        # A file rewritten in place: its row changes in the open page, without a reload, within a second.
        driver.execute_script("window.sameDocument = true; window.scrollTo(0, 600);")
        time.sleep(0.5)  # the event stream is open
        scrolled = driver.execute_script("return window.scrollY")
        moved = expected[150]  # an account of page 2 that goes to the top
        target = next(n for n in os.listdir(os.path.join(work, "accounts"))
                      if re.search(rb"^Login=" + re.escape(moved[1].encode()) + rb"\r?$",
                                   open(os.path.join(work, "accounts", n), "rb").read(), re.M))
        with open(os.path.join(work, "accounts", target), "r+b") as f:  # in place, as a server saves
            f.truncate()
            f.write(f"[GENERAL]\nLogin={moved[1]}\n[CHAR1]\nLevel=2147483647\nName=Hero\n".encode())
        closed = time.monotonic()
        shown = None
        while time.monotonic() - closed < 5:
            rows = shown_rows(driver)
            if rows and rows[0][1] == moved[1] and rows[0][2] == "2147483647":
                shown = time.monotonic() - closed
                break
            time.sleep(0.02)
        check(shown is not None, "a file rewritten in place changes its row in the open page")
        if shown is not None:
            print(f"      shown {shown * 1000:.0f} ms after the file's close")
            check(shown < 1.0, "within a second")
        check(driver.execute_script("return window.sameDocument === true"), "without a reload")
        check(driver.execute_script("return window.scrollY") == scrolled, "the reader's scroll stays")
        check(shown_rows(driver) == rank_rows(work)[:100], "the rows are orvantis-rank's again")

        # Search and paging by keyboard alone.
        box = driver.find_element(By.ID, "q")
        box.send_keys(moved[1].upper())  # letter case ignored, as the window's find bar does
        box.send_keys(Keys.ENTER)
        time.sleep(0.5)
        found = shown_rows(driver)
        check(any(r[1] == moved[1] and r[0] == "1" for r in found), "a search finds the account, with its rank")
        check(len(found) < len(expected), "and not every account")
        check("q=" in driver.current_url, "the search is in the page's address")
        driver.get(url)
        nav_next = driver.find_element(By.CSS_SELECTOR, "a[rel=next]")
        nav_next.send_keys(Keys.ENTER)
        time.sleep(0.5)
        check("page=2" in driver.current_url and shown_rows(driver) == rank_rows(work)[100:200],
              "Next shows ranks 101 to 200")
        check(driver.execute_script("return document.querySelector('caption') !== null &&"
                                    " document.querySelectorAll('th[scope=col]').length === 6"),
              "the table has a caption and header cells")
        check(driver.execute_script("return document.querySelector('label[for=q]') !== null"), "the search box has a label")

        typed_searches_and_back(driver, url, work)
        vanishing_page(driver, url, work)
        without_javascript(driver, url)
        by_keyboard(driver, url)
        for dark in (False, True):
            driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": [
                {"name": "prefers-color-scheme", "value": "dark" if dark else "light"}]})
            look = "dark" if dark else "light"
            screens = [("phone", 360, 2, True), ("desktop at 200 %", 640, 2, False), ("desktop", 1280, 1, False)]
            for screen, width, scale, mobile in screens:
                driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                                       {"width": width, "height": 780, "deviceScaleFactor": scale, "mobile": mobile})
                driver.get(url)
                fits(driver, width, f"{screen}, {look}")
                if width == 360 or (width == 1280 and not dark):
                    name = f"serve-{width}{'-dark' if dark else ''}.png"
                    driver.save_screenshot(os.path.join(OUTPUT, name))
            check(is_dark(driver) == dark, f"prefers-color-scheme {look} gives a {look} page")
            for page in ("", "?q=abc1", "?page=2"):
                driver.get(url + page)
                accessible(driver, f"{page or 'the first page'}, {look}")

        # The server gone: the page says the live connection is lost.
        driver.get(url)
        driver.execute_script("window.sameDocument = true;")
        check(driver.execute_script("return document.getElementById('live').hidden"), "no note while live")
        driver.execute_script("""window.noteShown = 0;
            new MutationObserver(() => { if (!document.getElementById('live').hidden) ++window.noteShown; })
                .observe(document.getElementById('live'), {attributes: true});""")
        server.terminate()
        server.wait(10)
        lost = False
        for _ in range(100):
            if not driver.execute_script("return document.getElementById('live').hidden"):
                lost = True
                break
            time.sleep(0.05)
        check(lost, "a lost live connection is said on the page")
        time.sleep(4)  # the browser tries again, and again fails: the note is not said again
        check(driver.execute_script("return window.noteShown") == 1, "the note is shown once, not at each try")

        # Started again with an account at the top, and no change after: the open page, which
        # showed the last run's generation, shows the new first row.
        write_account(work, "0000.ini", "restarted", 2147483647)
        started = time.monotonic()
        restart()
        back = wait_for(lambda: shown_rows(driver)[0][1] == "restarted", 5)
        check(back, "after a restart the open page shows the new first row")
        if back:
            print(f"      shown {time.monotonic() - started:.1f} s after the restart began")
        check(driver.execute_script("return window.sameDocument === true"), "without a reload")
        check(wait_for(lambda: driver.execute_script("return document.getElementById('live').hidden"), 5),
              "and says it is live again")
        # The browser notes each lost event stream, and the 404 of the page that vanished.
        errors = [e["message"] for e in driver.get_log("browser") if e["level"] == "SEVERE" and "events" not in
                  e["message"] and not ("q=vanish&page=2" in e["message"] and "404" in e["message"])]
        check(not errors, f"no errors in the browser's console {errors}")
    finally:
        driver.quit()


def wait_for(condition, seconds):
    """Whether `condition` holds within `seconds`, asked every 20 ms."""
    until = time.monotonic() + seconds
    while time.monotonic() < until:
        if condition():
            return True
        time.sleep(0.02)
    return condition()


def caption(driver):
    return driver.execute_script("return document.querySelector('caption').textContent")


def typed_searches_and_back(driver, url, work):
    """Searches typed into the box one after another: the pages left behind are kept in the
    back/forward cache, with their event streams closed, so that none takes one of the six
    connections a browser gives a host. Back brings them again, live."""
    driver.get(url)
    for text in SEARCHES:
        driver.execute_script("window.keptInCache = true")
        box = driver.find_element(By.ID, "q")
        box.clear()
        box.send_keys(text)
        started = time.monotonic()
        try:
            box.send_keys(Keys.ENTER)  # returns once the page has loaded, or in 20 s
            loaded = wait_for(lambda: f"\u201c{text}\u201d" in caption(driver) and
                              driver.execute_script("return document.readyState") == "complete", 5)
        except TimeoutException:
            loaded = False
        took = time.monotonic() - started
        check(loaded and took < 2, f"the search {text} loads within 2 s ({took:.2f} s)")
    for back in range(3):
        driver.back()
    shown = SEARCHES[-4]
    check(f"\u201c{shown}\u201d" in caption(driver), f"three times Back shows the search {shown}")
    check(driver.execute_script("return window.keptInCache === true"), "from the back/forward cache")
    with open(os.path.join(work, "accounts", f"{shown}.ini"), "r+b") as f:
        f.truncate()
        f.write(f"[GENERAL]\nLogin={shown}\n[CHAR1]\nLevel=4242\nName=Back\n".encode())
    check(wait_for(lambda: any(r[1] == shown and r[2] == "4242" for r in shown_rows(driver)), 2),
          "a page brought back is live: a file rewritten reaches it within 2 s")


def vanishing_page(driver, url, work):
    """The second page of a search whose rows go: the open page says so and shows the page that
    is now the last, in its place."""
    names = [f"vanish{i:03}.ini" for i in range(150)]
    for i, name in enumerate(names):
        write_account(work, name, name[:-4], 3 + i % 7)
    check(wait_for(lambda: driver.get(url + "?q=vanish&page=2") or "101 to 150 of 150" in caption(driver), 10),
          "the second page of 150 accounts found")
    driver.execute_script("window.sameDocument = true;")
    for name in names[:130]:
        os.remove(os.path.join(work, "accounts", name))
    said = wait_for(lambda: not driver.execute_script("return document.getElementById('vanished').hidden"), 5)
    check(said and "is gone" in driver.find_element(By.ID, "vanished").text, "a page whose rows went says so")
    check(wait_for(lambda: "1 to 20 of 20" in caption(driver) and len(shown_rows(driver)) == 20, 5),
          "and shows the page that is now the last")
    check("page=" not in driver.current_url and "q=vanish" in driver.current_url, "at its address")
    check(driver.execute_script("return window.sameDocument === true"), "without a reload")
    for name in names[130:]:
        os.remove(os.path.join(work, "accounts", name))


def without_javascript(driver, url):
    """Search and paging as a form and links, with scripts off."""
    driver.execute_cdp_cmd("Emulation.setScriptExecutionDisabled", {"value": True})
    try:
        driver.get(url)
        box = driver.find_element(By.ID, "q")
        box.send_keys("abc1")
        box.send_keys(Keys.ENTER)
        check(wait_for(lambda: "\u201cabc1\u201d" in caption(driver), 5), "without JavaScript, a search")
        driver.get(url)
        driver.find_element(By.CSS_SELECTOR, "a[rel=next]").click()
        check(wait_for(lambda: "page=2" in driver.current_url and shown_rows(driver)[0][0] == "101", 5),
              "without JavaScript, the next page")
    finally:
        driver.execute_cdp_cmd("Emulation.setScriptExecutionDisabled", {"value": False})


def by_keyboard(driver, url):
    """Tab reaches the box, the button, the choice of movement and the pages' links, each with a
    focus that shows."""
    driver.get(url)
    body = driver.find_element(By.TAG_NAME, "body")
    body.send_keys(Keys.TAB)
    reached = []
    for _ in range(6):
        reached.append(driver.execute_script(
            "const e = document.activeElement, s = getComputedStyle(e);"
            "return [e.id || e.rel || e.tagName, s.outlineStyle !== 'none' && parseFloat(s.outlineWidth) >= 2];"))
        driver.switch_to.active_element.send_keys(Keys.TAB)
    names = [name for name, _ in reached]
    check("q" in names and "BUTTON" in names and names.count("A") == 2 and "next" in names,
          f"Tab reaches the box, the button, the two movements and Next ({names})")
    check(all(visible for _, visible in reached), "each with a focus outline that shows")


def fits(driver, width, where):
    """Nothing scrolls sideways, and the caption, the summary and each row's rank, login and level
    are whole in view."""
    check(driver.execute_script("return document.documentElement.scrollWidth <= window.innerWidth"),
          f"{where}: the page does not scroll sideways")
    outside = driver.execute_script("""
        const out = [];
        const shown = (e) => e.offsetParent !== null;
        const check = (e, what) => { const r = e.getBoundingClientRect();
            if (r.left < 0 || r.right > window.innerWidth) out.push(what); };
        check(document.querySelector('caption'), 'caption');
        check(document.getElementById('summary'), 'summary');
        for (const tr of Array.from(document.querySelectorAll('#ranking tbody tr')).slice(0, 5))
            for (const i of [0, 1, 2, 4, 5]) if (shown(tr.cells[i])) check(tr.cells[i], 'cell ' + i);
        return out;""")
    check(not outside, f"{where}: caption, summary and cells within the width {width} ({outside})")


def is_dark(driver):
    """Whether the page's background is dark and its text light enough to read on it."""
    colours = driver.execute_script(
        "const s = getComputedStyle(document.body); return [s.backgroundColor, s.color];")
    luminance = [sum(int(c) for c in re.findall(r"\d+", colour)[:3]) / 3 for colour in colours]
    return luminance[0] < 64 and luminance[1] > 192


def accessible(driver, where):
    """axe-core, run inside the page, finds nothing serious or critical."""
    with open(AXE) as f:
        driver.execute_script(f.read())
    result = driver.execute_async_script(
        "const done = arguments[arguments.length - 1];"
        "axe.run(document, {resultTypes: ['violations']}).then(r => done(r.violations.map("
        "v => [v.id, v.impact, v.nodes.length])), e => done([['axe failed', String(e), 0]]));")
    serious = [v for v in result if v[1] in ("serious", "critical") or v[0] == "axe failed"]
    check(not serious, f"axe-core on {where}: nothing serious or critical ({serious})")


if __name__ == "__main__":
    main()
