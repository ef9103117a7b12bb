#!/usr/bin/python3
"""Drives the account page in a real, headless Chromium as a user does.

Run by the account page's end-to-end test, which starts the service, its
name server and its accounts first:

    account_browser.py BASE_URL LOGIN PASSWORD AXE_JS SHOTS_DIR EXPECT...

Signs in (after one wrong password), checks that the overview shows each
EXPECT text, audits every page with axe-core, reads each page at 320 pixels
wide and at 200% zoom, takes screenshots at desktop and phone width into
SHOTS_DIR, and signs out with the keyboard alone. Prints one line per check
that failed ("fail: ...") and exits 1 when any did.
"""

import json
import shutil
import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support import expected_conditions
from selenium.webdriver.support.ui import WebDriverWait

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("fail: " + what, flush=True)


def start_browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync",
                 "--user-data-dir=" + profile, "--window-size=1280,900"):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def audit(browser, axe, page):
    """Runs axe-core on the page shown; every violation is a failure."""
    browser.execute_script(axe)
    result = browser.execute_async_script(
        "const done = arguments[arguments.length - 1];"
        "axe.run(document).then(r => done(JSON.stringify(r.violations)))"
        ".catch(e => done(JSON.stringify([{id: 'axe failed', help: String(e)}])));")
    for violation in json.loads(result):
        check(False, "%s: axe %s: %s" % (page, violation["id"], violation["help"]))


def fits(browser, page, width, zoom):
    """The page at width pixels and zoom needs no sideways scrolling."""
    browser.set_window_size(width, 900)
    browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
        "width": width, "height": 900, "deviceScaleFactor": 1, "mobile": width < 600})
    browser.execute_script("document.body.style.zoom = arguments[0]", str(zoom))
    wide = browser.execute_script(
        "return document.documentElement.scrollWidth - document.documentElement.clientWidth")
    check(wide <= 0, "%s at %d px and %d%%: %d px wider than the window"
          % (page, width, zoom * 100, wide))
    browser.execute_script("document.body.style.zoom = '1'")
    browser.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})
    browser.set_window_size(1280, 900)


def look(browser, axe, shots, page):
    audit(browser, axe, page)
    fits(browser, page, 320, 1)
    fits(browser, page, 640, 2)
    browser.save_screenshot("%s/%s-desktop.png" % (shots, page))
    browser.set_window_size(360, 780)
    browser.save_screenshot("%s/%s-phone.png" % (shots, page))
    browser.set_window_size(1280, 900)


def submitted(browser, element):
    """Presses Enter in element and waits for the page that answers."""
    page = browser.find_element(By.TAG_NAME, "html")
    element.send_keys(Keys.ENTER)
    WebDriverWait(browser, 10).until(expected_conditions.staleness_of(page))


def sign_in(browser, login, password):
    browser.find_element(By.ID, "login").clear()
    browser.find_element(By.ID, "login").send_keys(login)
    browser.find_element(By.ID, "password").send_keys(password)
    submitted(browser, browser.find_element(By.ID, "password"))


def main():
    base, login, password, axe_file, shots = sys.argv[1:6]
    expected = sys.argv[6:]
    with open(axe_file, encoding="utf-8") as f:
        axe = f.read()
    profile = tempfile.mkdtemp()
    browser = start_browser(profile)
    browser.set_script_timeout(30)
    try:
        browser.get(base + "/account/")
        check(browser.find_element(By.TAG_NAME, "h1").text == "Sign in", "no sign-in page")
        look(browser, axe, shots, "sign-in")

        sign_in(browser, login, password + "x")
        alert = browser.find_elements(By.CSS_SELECTOR, "[role=alert]")
        check(alert and alert[0].text == "The login or password is wrong.",
              "a wrong password is not told: " + browser.find_element(By.TAG_NAME, "main").text)
        look(browser, axe, shots, "sign-in-refused")

        sign_in(browser, login, password)
        overview = browser.find_element(By.TAG_NAME, "main").text
        check("Signed in as " + login in overview, "not signed in: " + overview)
        for text in expected:
            check(text in overview, "the overview lacks %r: %s" % (text, overview))
        cookie = browser.get_cookie("kestrome_session")
        check(cookie is not None and cookie["httpOnly"] and cookie["sameSite"] == "Strict"
              and cookie["path"] == "/account/", "session cookie: %r" % cookie)
        check(base.startswith("http:") or cookie["secure"], "an HTTPS cookie is not Secure")
        look(browser, axe, shots, "overview")

        # Sign out with the keyboard: Tab reaches the button, Enter presses it.
        body = browser.find_element(By.TAG_NAME, "body")
        for _ in range(10):
            body.send_keys(Keys.TAB)
            if browser.switch_to.active_element.text == "Sign out":
                break
        check(browser.switch_to.active_element.text == "Sign out", "Tab never reaches Sign out")
        submitted(browser, browser.switch_to.active_element)
        check(browser.find_element(By.TAG_NAME, "h1").text == "Sign in", "not signed out")
        check(browser.get_cookie("kestrome_session") is None, "the cookie outlives sign-out")
    finally:
        browser.quit()
        shutil.rmtree(profile, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
