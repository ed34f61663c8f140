// Opens a page in Debian's headless Chromium and evaluates, one after the other, the async
// JavaScript expressions given after the URL; prints their outcomes as one JSON line: the
// value, or the thrown error's name, code, message and close code.
//   node page_client_browser.js URL USER_DATA_DIR PID_FILE EXPRESSION...
"use strict";

const fs = require("fs");
const { chromium } = require("playwright-core");
const { childPids } = require("./chromium_children");

const [url, userDataDir, pidFile, ...expressions] = process.argv.slice(2);

(async () => {
  const context = await chromium.launchPersistentContext(userDataDir, {
    executablePath: "/usr/bin/chromium",
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
  fs.writeFileSync(pidFile, childPids().join("\n") + "\n");
  const outcomes = [];
  try {
    const page = context.pages()[0] || await context.newPage();
    await page.goto(url);
    for (const expression of expressions) {
      outcomes.push(await page.evaluate(`(${expression}).then((value) => ({ value }),
        (e) => ({ error: e.name, code: e.code, message: e.message, closeCode: e.closeCode }))`));
    }
  } finally {
    await context.close();
  }
  process.stdout.write(JSON.stringify(outcomes) + "\n");
})().catch((e) => {
  process.stderr.write(String(e && e.stack || e) + "\n");
  process.exit(1);
});
