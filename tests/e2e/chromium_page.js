// Drives one of the launcher's pages in Debian's headless Chromium and writes what the
// page shows as JSON to RESULT. The launcher's test mode starts it as a browser command,
// with the page's URL as its last argument.
//
//   node chromium_page.js RESULT USER_DATA_DIR PID_FILE SPKI_HASH|- WAIT_MS test|card|visit|eval URL
//
// test: presses the test page's "Conectar", sends the text hola and a small file, then
//       closes the connection with the page's own button.
// card: presses "Leer tarjeta", waits for the outcome and both images, and saves a
//       screenshot beside RESULT (RESULT with .png).
// visit: waits until the page (and wherever it sends the browser) has loaded, and a
//       little longer for scripts to act; result.url and result.frames tell where it
//       ended up.
// eval: evaluates, one after the other, the async expressions of the JSON list in
//       expressions.json beside RESULT; result.outcomes holds each value, or the thrown
//       error's name, code, message and close code.
"use strict";

const fs = require("fs");
const { chromium } = require("playwright-core");

const [resultFile, userDataDir, pidFile, spki, waitText, scenario, url] = process.argv.slice(2);
const waitMs = Number(waitText) || 60000;
const wait = { timeout: waitMs };

// This process and its children (Chromium among them), read from /proc, so that the test
// can stop them by id even when this script does not get to close the browser.
function writePids() {
  const pids = [process.pid];
  for (const entry of fs.readdirSync("/proc").filter((e) => /^\d+$/.test(e))) {
    try {
      const stat = fs.readFileSync("/proc/" + entry + "/stat", "utf8");
      if (Number(stat.slice(stat.lastIndexOf(")") + 2).split(" ")[1]) === process.pid) pids.push(Number(entry));
    } catch (e) {
      // The process ended meanwhile.
    }
  }
  fs.writeFileSync(pidFile, pids.join("\n") + "\n");
}

async function testPage(page, result) {
  await page.click("#conectar", wait);
  await page.waitForSelector("#estado.conectado", wait);
  result.websocket = await page.textContent("#direccion");
  await page.click("#enviar");
  await page.waitForFunction(() => document.querySelectorAll("#respuestas li.recibido").length >= 1, null, wait);
  await page.setInputFiles("#archivo", { name: "prueba.bin", mimeType: "application/octet-stream",
                                         buffer: Buffer.from([0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10]) });
  await page.click("#enviarArchivo");
  await page.waitForFunction(() => document.querySelectorAll("#respuestas li.recibido").length >= 2, null, wait);
  result.answers = await page.$$eval("#respuestas li.recibido .mensaje", (items) => items.map((i) => i.textContent));
  await page.click("#desconectar");
  await page.waitForSelector("#estado.desconectado", wait);
  result.final = await page.textContent("#estado");
}

async function cardPage(page, result) {
  await page.click("#read", wait);
  await page.waitForSelector("body[data-read]", wait);
  // Both images decoded (or given up) before anything is measured or shown.
  await page.waitForFunction(() => ["photo", "signature"].every((id) => {
    const img = document.getElementById(id);
    return img.hidden || img.complete;
  }), null, wait);
  Object.assign(result, await page.evaluate(() => {
    const text = (id) => document.getElementById(id).textContent;
    const size = (id) => {
      const img = document.getElementById(id);
      return img.hidden ? null : [img.naturalWidth, img.naturalHeight];
    };
    return { outcome: document.body.dataset.read, status: text("status").trim(), apellidos: text("apellidos"),
             nombres: text("preNombres"), cui: text("cui"), fechaNac: text("fechaNac"), fechaExp: text("fechaExp"),
             mrz: text("mrz"), photo: size("photo"), signature: size("signature") };
  }));
  await page.screenshot({ path: resultFile.replace(/\.json$/, ".png"), fullPage: true });
}

async function visitPage(page, result) {
  await page.waitForLoadState("load", wait);
  await page.waitForTimeout(1500);
  await page.waitForLoadState("load", wait);
  await page.waitForTimeout(1500);
  result.url = page.url();
  result.frames = page.frames().filter((f) => f !== page.mainFrame()).map((f) => f.url());
  result.title = await page.title();
}

async function evalPage(page, result) {
  const expressions = JSON.parse(fs.readFileSync(require("path").join(require("path").dirname(resultFile),
                                                                      "expressions.json"), "utf8"));
  result.outcomes = [];
  for (const expression of expressions) {
    result.outcomes.push(await page.evaluate(`(${expression}).then((value) => ({ value }),
      (e) => ({ error: e.name, code: e.code, message: e.message, closeCode: e.closeCode }))`));
  }
}

async function main() {
  fs.writeFileSync(pidFile, process.pid + "\n");
  const args = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync"];
  // The profile trusts the test's own certificate (by its public key), nothing else.
  if (spki && spki !== "-") args.push("--ignore-certificate-errors-spki-list=" + spki);
  const context = await chromium.launchPersistentContext(userDataDir, {
    executablePath: "/usr/bin/chromium", headless: true, args, timeout: waitMs,
    viewport: { width: 980, height: 720 }, deviceScaleFactor: 1,
  });
  writePids();
  const result = { url, console: [] };
  try {
    const page = context.pages()[0] || await context.newPage();
    page.on("console", (m) => result.console.push(m.type() + ": " + m.text()));
    page.on("pageerror", (e) => result.console.push("pageerror: " + e.message));
    await page.goto(url, wait);
    await ({ card: cardPage, eval: evalPage, visit: visitPage }[scenario] || testPage)(page,
                                                                                                      result);
  } catch (e) {
    result.error = String(e && e.message || e);
  } finally {
    await context.close();
  }
  fs.writeFileSync(resultFile, JSON.stringify(result) + "\n");
}

main().catch((e) => {
  fs.writeFileSync(resultFile, JSON.stringify({ error: String(e && e.message || e) }) + "\n");
  process.exit(1);
});
