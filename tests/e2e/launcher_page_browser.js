// A browser command for the launcher's test mode: the launcher starts it with the
// test page's URL as its last argument. It opens the page in Debian's headless
// Chromium, lets the page connect, sends the text hola and a small file, and
// writes what the page shows as JSON to RESULT. Used by test_launcher_browser.py.
//
//   node launcher_page_browser.js RESULT USER_DATA_DIR PID_FILE SPKI_HASH|- WAIT_MS URL
"use strict";

const fs = require("fs");
const { chromium } = require("playwright-core");
const { childPids } = require("./chromium_children");

const [resultFile, userDataDir, pidFile, spki, waitText, url] = process.argv.slice(2);
const waitMs = Number(waitText) || 60000;

// This process and Chromium, its child, so that the test can stop both by id.
function writePids() {
  const pids = [process.pid, ...childPids()];
  fs.writeFileSync(pidFile, pids.join("\n") + "\n");
}

async function main() {
  fs.writeFileSync(pidFile, process.pid + "\n");
  const args = ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync"];
  // The profile trusts the test's own certificate (by its public key), nothing else.
  if (spki && spki !== "-") args.push("--ignore-certificate-errors-spki-list=" + spki);
  const context = await chromium.launchPersistentContext(userDataDir, {
    executablePath: "/usr/bin/chromium", headless: true, args, timeout: waitMs,
  });
  writePids();
  const result = { url, console: [] };
  try {
    const page = context.pages()[0] || await context.newPage();
    page.on("console", (m) => result.console.push(m.type() + ": " + m.text()));
    page.on("pageerror", (e) => result.console.push("pageerror: " + e.message));
    await page.goto(url, { timeout: waitMs });
    await page.waitForFunction(() => document.getElementById("estado").textContent === "Conectado", null,
                               { timeout: waitMs });
    result.websocket = await page.textContent("#direccion");
    await page.click("#enviar");
    await page.waitForFunction(() => document.querySelectorAll("#respuestas li.recibido").length >= 1, null,
                               { timeout: waitMs });
    await page.setInputFiles("#archivo", { name: "prueba.bin", mimeType: "application/octet-stream",
                                           buffer: Buffer.from([0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10]) });
    await page.click("#enviarArchivo");
    await page.waitForFunction(() => document.querySelectorAll("#respuestas li.recibido").length >= 2, null,
                               { timeout: waitMs });
    result.answers = await page.$$eval("#respuestas li.recibido .mensaje", (items) => items.map((i) => i.textContent));
  } catch (e) {
    result.error = String(e && e.message || e);
  } finally {
    await context.close();  // the page goes, its WebSocket closes, the launcher ends
  }
  fs.writeFileSync(resultFile, JSON.stringify(result) + "\n");
}

main().catch((e) => {
  fs.writeFileSync(resultFile, JSON.stringify({ error: String(e && e.message || e) }) + "\n");
  process.exit(1);
});
