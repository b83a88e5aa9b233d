// The virtual camera's page in a real browser: the preview shows the colour bars at ten images a second or more, the
// head and zoom move through the firmware and a preset brings the zoom back, the lamp lights, input and tally reach the camera.
//   node dashboard_test.mjs <ptzcam-sim> <screenshot.png>
import { spawn } from "node:child_process";
import { mkdtempSync, rmSync } from "node:fs";
import { createServer } from "node:net";
import { tmpdir } from "node:os";
import { join } from "node:path";
import assert from "node:assert/strict";
import { chromium } from "playwright-core";

const [simBinary, screenshotPath] = process.argv.slice(2);
const CHROMIUM_ARGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
  "--disable-background-networking", "--disable-component-update", "--disable-sync"];
const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

function freePort() {
  return new Promise((resolve) => {
    const server = createServer().listen(0, "127.0.0.1", () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

async function until(what, condition, limitMs) {
  const deadline = Date.now() + limitMs;
  for (;;) {
    const value = await condition().catch(() => undefined);
    if (value) return value;
    if (Date.now() > deadline) throw new Error("timed out waiting for " + what);
    await sleep(100);
  }
}

// The colours under the page's pixels at the given fractions of an element's screenshot,
// decoded by the browser itself.
async function pixelsOf(page, selector, points) {
  const png = await page.locator(selector).screenshot();
  return page.evaluate(async ({ data, points }) => {
    const image = new Image();
    image.src = "data:image/png;base64," + data;
    await image.decode();
    const canvas = new OffscreenCanvas(image.width, image.height);
    const context = canvas.getContext("2d");
    context.drawImage(image, 0, 0);
    return points.map(([fx, fy]) =>
      Array.from(context.getImageData(Math.floor(fx * image.width), Math.floor(fy * image.height), 1, 1).data.slice(0, 3)));
  }, { data: png.toString("base64"), points });
}

// 75 % bars: which of red, green, blue are lit, left to right.
const BARS = ["111", "110", "011", "010", "101", "100", "001"];
const litChannels = (rgb) => rgb.map((c) => (c > 127 ? "1" : "0")).join("");

const port = await freePort();
const camera = spawn(simBinary, [], {
  env: { ...process.env, PTZSIM_HTTP: String(port), PTZCAM_IFACE: "lo", PTZSIM_SPEED: "8", PTZSIM_INPUT: "720p50" },
  stdio: ["pipe", "ignore", "inherit"],
});
const cameraExit = new Promise((done) => camera.on("exit", (code, signal) => done({ code, signal })));
const base = `http://127.0.0.1:${port}`;
const state = async () => (await fetch(base + "/state")).json();
// Polls the camera's state until `test` gives a truthy value, which it returns.
const untilState = (what, test, limitMs = 3000) => until(what, async () => test(await state()), limitMs);
const profile = mkdtempSync(join(tmpdir(), "ptzcam-browser-"));
let context;

try {
  await untilState("the head to be homed", (s) => s.ptz?.limit_state === 1, 60000);
  context = await chromium.launchPersistentContext(profile, {
    executablePath: "/usr/bin/chromium", headless: true, args: CHROMIUM_ARGS, viewport: { width: 1360, height: 900 },
  });
  const page = context.pages()[0] ?? (await context.newPage());
  const lampCode = () => page.locator("#lamp").getAttribute("data-code");
  const replyShows = (pattern) => async () => pattern.test(await page.locator("#reply").textContent());
  const pageErrors = [];
  page.on("pageerror", (error) => pageErrors.push(error.message));
  page.on("console", (message) => { if (message.type() === "error") pageErrors.push(message.text()); });
  await page.goto(base + "/");

  // The preview: ten images a second or more, showing the bars.
  const rate = await until("ten preview images a second", async () => {
    const shown = Number(await page.locator("#rate").textContent());
    return shown >= 10 ? shown : undefined;
  }, 20000);
  console.log(`preview: ${rate} images/s`);
  const bars = await pixelsOf(page, "#preview", BARS.map((_, i) => [(i + 0.5) / 7, 0.3]));
  assert.deepEqual(bars.map(litChannels), BARS, "colour bars expected, got " + JSON.stringify(bars));

  // Press and hold right: the firmware moves the head right and stops it on release.
  const before = (await state()).pan.angle_deg;
  const right = page.locator('.pad button[data-pan="1"][data-tilt="0"]');
  await right.hover();
  await page.mouse.down();
  await sleep(1500);
  const moving = (await state()).pan;
  await page.mouse.up();
  assert.notEqual(moving.vactual, 0, "the pan motor runs while the button is held");
  const stopped = await untilState("the pan motor to stop", (s) => (s.pan.vactual === 0 ? s.pan : undefined), 10000);
  assert.ok(stopped.angle_deg > before + 1, `pan moved right: ${before} -> ${stopped.angle_deg}`);
  await until("the page to show the new pan angle", async () =>
    Number(await page.locator("#pan").textContent()) === Number(stopped.angle_deg.toFixed(1)), 3000);

  // The lamp: VISCA tally on lights it red through the firmware (off darkens it, at the end).
  await page.click("#tallyOn");
  await untilState("the lamp register to be on", (s) => s.fpga.lamp === 1, 5000);
  await until("the page to show it", async () => (await lampCode()) === "1", 3000);
  const [lit] = await pixelsOf(page, "#lamp", [[0.5, 0.5]]);
  assert.ok(lit[0] > 200 && lit[1] < 80 && lit[2] < 80, "lamp lit red: " + lit);

  // Receivers' tally and input format go to the simulated world.
  await page.check("#program");
  await untilState("the receivers' program tally", (s) => s.ndi.tally.program === true);
  await page.selectOption("#inputFormat", "1080p50");
  await untilState("the source to change", (s) => s.input === "1080p50");

  // Presets and zoom through the bridge: the zoom leaves the saved preset, the recall brings it back.
  const saved = (await state()).zoom.position;
  await page.click("#save3");
  await until("#save3 to complete", replyShows(/82 01 04 3f 01 03 ff\n200 A0 41 FF \| A0 51 FF/), 3000);
  await page.locator("#zoomPosition").fill("12000");
  await until("the zoom position to complete", replyShows(/82 01 04 47 02 0e 0e 00 ff\n200 A0 41 FF \| A0 51 FF/), 3000);
  await untilState("the zoom to leave the preset", (s) => s.zoom.moving === 0 && s.zoom.position !== saved, 10000);
  await page.click("#recall3");
  await untilState("the recall to bring the zoom back", (s) => s.zoom.moving === 0 && s.zoom.position === saved, 10000);

  // Keys the camera does not report show a dash; those it reports show their value.
  const shown = async () => {
    const latest = await state();
    for (const [selector, value] of [["#zoom", latest.zoom?.position], ["#power", latest.camera?.power]])
      if ((await page.locator(selector).textContent()) !== (value === undefined ? "\u2014" : String(value))) return false;
    return true;
  };
  await until("the page to show the camera's zoom and power", shown, 5000);

  await page.screenshot({ path: screenshotPath });
  await page.click("#tallyOff");
  await until("the page to show the lamp off", async () => (await lampCode()) === "2", 5000);
  const [dark] = await pixelsOf(page, "#lamp", [[0.5, 0.5]]);
  assert.ok(Math.max(...dark) < 90, "lamp dark: " + dark);
  assert.deepEqual(pageErrors, [], "the page ran without errors");
  console.log("browser test passed; screenshot " + screenshotPath);
} finally {
  if (context) await context.close();
  rmSync(profile, { recursive: true, force: true });
  camera.stdin.end("exit\n");
  const timer = setTimeout(() => camera.kill("SIGKILL"), 10000);
  await cameraExit;
  clearTimeout(timer);
}
