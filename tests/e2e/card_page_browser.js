// Opens the card page in Debian's headless Chromium, presses "Leer tarjeta", waits for the
// outcome and prints what the page shows as one JSON line. Used by test_card_page.py.
//
//   node card_page_browser.js URL SCREENSHOT.png USER_DATA_DIR PID_FILE WAIT_MS
"use strict";

const fs = require("fs");
const { chromium } = require("playwright-core");
const { childPids } = require("./chromium_children");

const [url, screenshot, userDataDir, pidFile, waitText] = process.argv.slice(2);
const waitMs = Number(waitText) || 60000;

// Chromium is a child of this process; its id goes to a file so that the test can stop it
// even if this script does not get to close it.
function writeChildPids() {
  const pids = childPids();
  fs.writeFileSync(pidFile, pids.join("\n") + "\n");
}

async function main() {
  const context = await chromium.launchPersistentContext(userDataDir, {
    executablePath: "/usr/bin/chromium",
    headless: true,
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync"],
    viewport: { width: 980, height: 720 },
    deviceScaleFactor: 1,
    timeout: waitMs,
  });
  writeChildPids();
  const result = { console: [] };
  try {
    const page = context.pages()[0] || await context.newPage();
    page.on("console", (m) => result.console.push(m.type() + ": " + m.text()));
    page.on("pageerror", (e) => result.console.push("pageerror: " + e.message));
    await page.goto(url, { timeout: waitMs });
    await page.click("#read", { timeout: waitMs });
    await page.waitForSelector("body[data-read]", { timeout: waitMs });
    // Both images decoded (or given up) before anything is measured or shown.
    await page.waitForFunction(() => ["photo", "signature"].every((id) => {
      const img = document.getElementById(id);
      return img.hidden || img.complete;
    }), null, { timeout: waitMs });
    Object.assign(result, await page.evaluate(() => {
      const text = (id) => document.getElementById(id).textContent;
      const size = (id) => {
        const img = document.getElementById(id);
        return img.hidden ? null : [img.naturalWidth, img.naturalHeight];
      };
      return {
        outcome: document.body.dataset.read,
        status: text("status").trim(),
        apellidos: text("apellidos"),
        nombres: text("preNombres"),
        cui: text("cui"),
        fechaNac: text("fechaNac"),
        fechaExp: text("fechaExp"),
        mrz: text("mrz"),
        photo: size("photo"),
        signature: size("signature"),
      };
    }));
    await page.screenshot({ path: screenshot, fullPage: true });
  } finally {
    await context.close();
  }
  process.stdout.write(JSON.stringify(result) + "\n");
}

main().catch((e) => {
  process.stderr.write(String(e && e.stack || e) + "\n");
  process.exit(1);
});
