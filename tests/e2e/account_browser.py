#!/usr/bin/python3
"""Drives the account page in a real, headless Chromium as a user does.

Run by the account page's end-to-end test, which starts the service, its
name server and its accounts first:

    account_browser.py BASE_URL LOGIN PASSWORD NEW_PASSWORD AXE_JS SHOTS_DIR EXPECT...

Signs in (after one wrong password) and checks that the overview shows each
EXPECT text; adds the host "box", makes its token and updates it with that
token as a router would, until the overview says DNS holds it, and makes
another, which ends the first; sets nas's
IPv6 address by hand; removes box after its confirmation page; changes the
password to NEW_PASSWORD; signs out with the keyboard alone, and in again
with the new password only. Every page is audited with axe-core, read at
320 pixels wide and at 200% zoom, and shot at desktop and phone width into
SHOTS_DIR. Prints one line per check that failed ("fail: ...") and exits 1
when any did.
"""

import base64
import json
import shutil
import sys
import tempfile
import time
import urllib.error
import urllib.request

from selenium import webdriver
from selenium.common.exceptions import WebDriverException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

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


def left(page):
    """Whether the browser has left the page whose html element is page.
    Chromium's driver tells a node of a page being left as stale or, in
    the midst of the change, as not belonging to the document."""
    def predicate(_):
        try:
            page.is_enabled()
            return False
        except WebDriverException:
            return True
    return predicate


def submitted(browser, element):
    """Presses Enter in element and waits for the page that answers."""
    page = browser.find_element(By.TAG_NAME, "html")
    element.send_keys(Keys.ENTER)
    WebDriverWait(browser, 10).until(left(page))
    WebDriverWait(browser, 10).until(
        lambda b: b.execute_script("return document.readyState") == "complete")


def press(browser, label):
    """Presses the button whose text is label and waits for the next page."""
    for button in browser.find_elements(By.TAG_NAME, "button"):
        if button.text == label or button.get_attribute("textContent") == label:
            submitted(browser, button)
            return
    check(False, "no button %r on %s" % (label, browser.title))


def fill(browser, values):
    for field, value in values.items():
        browser.find_element(By.ID, field).clear()
        browser.find_element(By.ID, field).send_keys(value)


def update(base, login, secret, query):
    """A router's update of the service with a host's token."""
    request = urllib.request.Request(base + "/nic/update?" + query)
    request.add_header("Authorization", "Basic " + base64.b64encode(
        (login + ":" + secret).encode()).decode())
    with urllib.request.urlopen(request, timeout=10) as reply:
        return reply.read().decode()


def overview_until(browser, base, text):
    """The overview, shown again until it holds text (a few seconds at most)."""
    for _ in range(40):
        browser.get(base + "/account/")
        page = browser.find_element(By.TAG_NAME, "main").text
        if text in page:
            return page
        time.sleep(0.1)
    return page


def sign_in(browser, login, password):
    browser.find_element(By.ID, "login").clear()
    browser.find_element(By.ID, "login").send_keys(login)
    browser.find_element(By.ID, "password").send_keys(password)
    submitted(browser, browser.find_element(By.ID, "password"))


def main():
    base, login, password, new_password, axe_file, shots = sys.argv[1:7]
    expected = sys.argv[7:]
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

        fill(browser, {"label": "box"})
        press(browser, "Add host")
        check("box." in browser.find_element(By.TAG_NAME, "main").text, "box was not added")
        press(browser, "New token for box.example.test")
        token = browser.find_element(By.CSS_SELECTOR, ".token code").text
        configs = browser.find_element(By.TAG_NAME, "main").text
        check(len(token) == 32 and configs.count(token) >= 4,
              "the token and its configurations: " + configs)
        look(browser, axe, shots, "token")
        check(update(base, login, token, "hostname=box.example.test&myip=192.0.2.20")
              == "good 192.0.2.20", "the new token does not update box")
        page = overview_until(browser, base, "published\nNew token for box")
        check("192.0.2.20" in page, "box's address is not shown: " + page)
        press(browser, "New token for box.example.test")
        renewed = browser.find_element(By.CSS_SELECTOR, ".token code").text
        try:
            update(base, login, token, "hostname=box.example.test&myip=192.0.2.21")
            check(False, "a rotated token still works")
        except urllib.error.HTTPError as refused:
            check(refused.code == 401, "a rotated token gets %d" % refused.code)
        check(update(base, login, renewed, "hostname=box.example.test&myip=192.0.2.20")
              == "nochg 192.0.2.20", "the renewed token does not work")
        browser.get(base + "/account/")

        fill(browser, {"ipv6": "2001:db8::7"})
        Select(browser.find_element(By.ID, "host")).select_by_visible_text("nas")
        press(browser, "Set address")
        check("2001:db8::7" in browser.find_element(By.TAG_NAME, "main").text,
              "the address set by hand is not shown")

        press(browser, "Remove box.example.test")
        check(browser.find_element(By.TAG_NAME, "h1").text == "Remove box.example.test?",
              "no confirmation page")
        look(browser, axe, shots, "confirm-removal")
        press(browser, "Remove box.example.test")
        check("box." not in browser.find_element(By.TAG_NAME, "main").text, "box is still there")

        fill(browser, {"current": password, "new": new_password, "again": new_password})
        press(browser, "Change password")
        check(browser.find_element(By.TAG_NAME, "h1").text == "Password changed",
              "the password was not changed: " + browser.find_element(By.TAG_NAME, "main").text)
        look(browser, axe, shots, "password-changed")
        browser.get(base + "/account/")
    finally:
        browser.quit()
        shutil.rmtree(profile, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
