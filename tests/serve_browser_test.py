#!/usr/bin/python3
"""The leaderboard page in a real browser (Debian's Chromium, driven by Selenium): its rows are
orvantis-rank's, a file rewritten in place changes its row in the open page within a second
without a reload, search and paging work by keyboard, hostile names are text and nothing more,
and a lost connection is said. Saves screenshots at 360 and 1280 px wide.

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
    from selenium.common.exceptions import NoAlertPresentException
    from selenium.webdriver.chrome.options import Options
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
except ImportError:
    print("python3-selenium is not installed")
    sys.exit(77)

SERVE, RANK, GENERATE, OUTPUT = sys.argv[1:5]
CHROMIUM, DRIVER = "/usr/bin/chromium", "/usr/bin/chromedriver"
if not (os.access(CHROMIUM, os.X_OK) and os.access(DRIVER, os.X_OK)):
    print("chromium or chromium-driver is not installed")
    sys.exit(77)

failures = []


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what, flush=True)
    if not ok:
        failures.append(what)


# Names players choose to break pages, and a file in Windows-1252.
HOSTILE = {
    "h1.ini": "<img src=x onerror=alert(1)>",
    "h2.ini": '"><script>alert(2)</script>',
    "h3.ini": "a&b 'single' \"double\" <b>bold</b>",
    "h4.ini": "bell\x07 line\u2028paragraph\u2029end",
    "h5.ini": "\u202egnp.exe\u202c tail",
}


def write_account(folder, name, login, level, character="Hero", encoding="utf-8"):
    with open(os.path.join(folder, "accounts", name), "wb") as f:
        f.write(f"[GENERAL]\nLogin={login}\n[CHAR1]\nLevel={level}\nName={character}\n".encode(encoding))


def main():
    work = tempfile.mkdtemp()
    subprocess.run([GENERATE, work, "250", "3"], check=True, stdout=subprocess.DEVNULL)
    for i, (name, text) in enumerate(HOSTILE.items()):
        write_account(work, name, text, 5000 + i, character=text)
    write_account(work, "cp1252.ini", "Br\u00f6tchen", 4000, character="Gr\u00fc\u00df Gott", encoding="cp1252")

    errors = open(os.path.join(work, "serve.err"), "w+")
    server = subprocess.Popen([SERVE, "--listen", "127.0.0.1:0", work], stderr=errors)
    try:
        for _ in range(200):
            errors.seek(0)
            said = errors.read()
            if " accounts from " in said:
                break
            time.sleep(0.05)
        port = re.search(r"listening on http://127\.0\.0\.1:(\d+)/", said).group(1)
        url = f"http://127.0.0.1:{port}/"
        run_browser(url, work, server)
    finally:
        if server.poll() is None:
            server.terminate()
            server.wait(10)
    if failures:
        print(f"{len(failures)} checks failed")
        sys.exit(1)
    print("all checks passed")


def rank_rows(work):
    """orvantis-rank's rows, as the page shows them: rank, login, level (empty for 0), slot, name."""
    rows = json.loads(subprocess.run([RANK, "--format", "json", work], capture_output=True, check=True).stdout)
    return [[str(i + 1), r["login"], "" if r["level"] == 0 else str(r["level"]), r["slot"], r["name"]]
            for i, r in enumerate(rows)]


def shown_rows(driver):
    return driver.execute_script(
        "return Array.from(document.querySelectorAll('#ranking tbody tr'),"
        " tr => Array.from(tr.cells, td => td.textContent));")


def no_dialog(driver):
    try:
        driver.switch_to.alert
        return False
    except NoAlertPresentException:
        return True


def run_browser(url, work, server):
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
        check(driver.execute_script("return document.querySelectorAll('td *').length") == 0, "cells hold text only")
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
            f.write(f"[GENERAL]\nLogin={moved[1]}\n[CHAR1]\nLevel=999999\nName=Hero\n".encode())
        closed = time.monotonic()
        shown = None
        while time.monotonic() - closed < 5:
            rows = shown_rows(driver)
            if rows and rows[0][1] == moved[1] and rows[0][2] == "999999":
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
                                    " document.querySelectorAll('th[scope=col]').length === 5"),
              "the table has a caption and header cells")
        check(driver.execute_script("return document.querySelector('label[for=q]') !== null"), "the search box has a label")

        # Screenshots, at a phone's width and a desktop's.
        driver.get(url)
        time.sleep(0.5)
        driver.save_screenshot(os.path.join(OUTPUT, "serve-1280.png"))
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                               {"width": 360, "height": 780, "deviceScaleFactor": 1, "mobile": True})
        driver.get(url)
        time.sleep(0.5)
        check(driver.execute_script("return document.documentElement.scrollWidth <= 360"),
              "nothing is wider than a 360 px phone")
        driver.save_screenshot(os.path.join(OUTPUT, "serve-360.png"))

        # The server gone: the page says the live connection is lost.
        check(driver.execute_script("return document.getElementById('live').hidden"), "no note while live")
        server.terminate()
        server.wait(10)
        lost = False
        for _ in range(100):
            if not driver.execute_script("return document.getElementById('live').hidden"):
                lost = True
                break
            time.sleep(0.05)
        check(lost, "a lost live connection is said on the page")
        check(not [e for e in driver.get_log("browser") if e["level"] == "SEVERE" and "events" not in e["message"]],
              "no errors in the browser's console")
    finally:
        driver.quit()


if __name__ == "__main__":
    main()
