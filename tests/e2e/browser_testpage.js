// Opens the launcher's test page in headless Chromium, sends a text and a small
// file, and prints what the page shows as one JSON line. Argument: the page's URL.
const { chromium } = require("playwright-core");
const fs = require("fs");
const os = require("os");
const path = require("path");

async function main() {
  const url = process.argv[2];
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "zelvo-chromium-"));
  // A fresh profile folder: playwright passes it as --user-data-dir.
  const browser = await chromium.launchPersistentContext(profile, {
    executablePath: "/usr/bin/chromium",
    headless: true,
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
  const result = {};
  try {
    const page = await browser.newPage();
    await page.goto(url);
    await page.waitForSelector("#estado.conectado", { timeout: 30000 });
    result.estado = await page.textContent("#estado");
    await page.fill("#texto", "hola");
    await page.click("#enviar");
    await page.waitForSelector("#respuestas li.recibido", { timeout: 30000 });
    await page.setInputFiles("#archivo", { name: "prueba.bin", mimeType: "application/octet-stream",
                                           buffer: Buffer.from([1, 2, 3, 4, 5, 6, 7]) });
    await page.click("#enviarArchivo");
    await page.waitForFunction(() => document.querySelectorAll("#respuestas li.recibido").length >= 2,
                               null, { timeout: 30000 });
    result.respuestas = await page.$$eval("#respuestas li.recibido .mensaje", (items) => items.map((i) => i.textContent));
    await page.click("#desconectar");
    await page.waitForSelector("#estado.desconectado", { timeout: 30000 });
    result.final = await page.textContent("#estado");
  } finally {
    await browser.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
  process.stdout.write(JSON.stringify(result) + "\n");
}

main().catch((error) => {
  process.stderr.write(String(error && error.stack || error) + "\n");
  process.exit(1);
});
