// Opens a page in Debian's headless Chromium and prints, as one JSON line, the
// text of its #estado once it no longer says "esperando". The ids of this
// process and its children go to PID_FILE, so that the test can stop them.
//
//   node foreign_page_browser.js PID_FILE WAIT_MS URL
"use strict";

const fs = require("fs");
const os = require("os");
const path = require("path");
const { chromium } = require("playwright-core");
const { childPids } = require("./chromium_children");

const [pidFile, waitText, url] = process.argv.slice(2);
const waitMs = Number(waitText) || 60000;

async function main() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "zelvo-chromium-"));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: "/usr/bin/chromium", headless: true, timeout: waitMs,
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
  fs.writeFileSync(pidFile, [process.pid, ...childPids()].join("\n") + "\n");
  try {
    const page = context.pages()[0] || await context.newPage();
    await page.goto(url, { timeout: waitMs });
    await page.waitForFunction(() => document.getElementById("estado").textContent !== "esperando", null,
                               { timeout: waitMs });
    process.stdout.write(JSON.stringify({ estado: await page.textContent("#estado") }) + "\n");
  } finally {
    await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
}

main().catch((e) => {
  process.stderr.write(String(e && e.stack || e) + "\n");
  process.exit(1);
});
