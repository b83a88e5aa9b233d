// The integrator's page of the virtual camera: plain HTML, CSS and JavaScript, served as is.
// It shows what GET /state reports and acts only through the camera's own front ends
// (POST /visca to the local bridge, POST /ndi/metadata) or the simulated world's routes.
#include "sim/http/dashboard_page.h"

namespace sim {

namespace {
const char* const kHead = R"PAGE(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>ptzcam-sim: virtual camera</title>
<link rel="icon" href="data:,">
<style>
body { font: 14px sans-serif; margin: 0; background: #1d2024; color: #e6e6e6; }
header { padding: 8px 16px; background: #2b3036; display: flex; gap: 24px; align-items: center; }
header h1 { font-size: 18px; margin: 0; }
main { display: grid; grid-template-columns: minmax(320px, 640px) 300px 340px; gap: 16px; padding: 16px; }
section { background: #262a2f; border-radius: 6px; padding: 10px 12px; }
h2 { font-size: 14px; margin: 4px 0 8px; color: #9fc3e6; }
#preview { width: 100%; aspect-ratio: 16 / 9; background: #000; display: block; }
table { border-collapse: collapse; width: 100%; }
td { padding: 2px 4px; } td:last-child { text-align: right; font-family: monospace; }
.switch { display: inline-block; width: 12px; height: 12px; border-radius: 50%; background: #444; vertical-align: middle; }
.switch.closed { background: #f0c419; }
#lamp { width: 36px; height: 36px; border-radius: 50%; border: 2px solid #555; background: #303030; }
#lamp[data-code="1"] { background: #ff1a1a; box-shadow: 0 0 14px #ff1a1a; }
#lamp[data-code="3"] { background: #ffa500; box-shadow: 0 0 14px #ffa500; }
.pad { display: grid; grid-template-columns: repeat(3, 56px); gap: 4px; margin: 6px 0; user-select: none; }
.pad button { height: 44px; font-size: 18px; touch-action: none; }
.row { display: flex; gap: 6px; align-items: center; flex-wrap: wrap; margin: 6px 0; }
.presets { display: grid; grid-template-columns: 48px repeat(10, 24px); gap: 3px; margin: 6px 0; align-items: center; }
.presets button { padding: 2px 0; }
#reply { font-family: monospace; font-size: 12px; min-height: 32px; white-space: pre-wrap; color: #b8e0b8; }
#reply.failed { color: #ff8080; }
svg { background: #1a1d21; border-radius: 4px; }
</style>
</head>
)PAGE";

const char* const kBody = R"PAGE(<body>
<header>
  <h1>ptzcam-sim: virtual camera</h1>
  <span id="link">connecting...</span>
</header>
<main>
  <div>
    <section>
      <h2>Preview stream <span id="rate">—</span> images/s</h2>
      <canvas id="preview" width="640" height="360"></canvas>
    </section>
    <section>
      <h2>Streams</h2>
      <table>
        <tr><td>Input (source)</td><td id="input">—</td></tr>
        <tr><td>HDMI receiver</td><td id="hdmi">—</td></tr>
        <tr><td>Video frames full / preview</td><td id="frames">—</td></tr>
        <tr><td>Quality full / preview</td><td id="quality">—</td></tr>
        <tr><td>Drops capture / send</td><td id="drops">—</td></tr>
        <tr><td>Audio frames</td><td id="audioFrames">—</td></tr>
        <tr><td>Audio rate</td><td id="audioRate">—</td></tr>
        <tr><td>NDI tally program / preview</td><td id="ndiTally">—</td></tr>
      </table>
    </section>
  </div>
  <div>
    <section>
      <h2>Head from above: pan <span id="pan">—</span>°</h2>
      <svg viewBox="-100 -100 200 200" width="200" height="200">
        <circle r="80" fill="none" stroke="#555" stroke-dasharray="4 4"/>
        <g id="panHead"><rect x="-22" y="-30" width="44" height="60" rx="6" fill="#6b7785"/>
          <rect x="-10" y="-62" width="20" height="34" fill="#9aa7b5"/><circle cy="-64" r="6" fill="#4aa3ff"/></g>
      </svg>
      <div class="row">left switch <span id="panLeft" class="switch"></span>
        right switch <span id="panRight" class="switch"></span></div>
    </section>
    <section>
      <h2>Head from the side: tilt <span id="tilt">—</span>°</h2>
      <svg viewBox="-100 -100 200 200" width="200" height="200">
        <rect x="-30" y="40" width="60" height="40" fill="#444"/>
        <g id="tiltHead"><rect x="-30" y="-18" width="70" height="36" rx="6" fill="#6b7785"/>
          <circle cx="44" r="8" fill="#4aa3ff"/></g>
      </svg>
      <div class="row">tilt switch <span id="tiltSwitch" class="switch"></span></div>
    </section>
    <section>
      <h2>Camera</h2>
      <table>
        <tr><td>Tally lamp</td><td><div id="lamp" data-code=""></div></td></tr>
        <tr><td>Lamp code</td><td id="lampCode">—</td></tr>
        <tr><td>Zoom position</td><td id="zoom">—</td></tr>
        <tr><td>Camera power</td><td id="power">—</td></tr>
        <tr><td>Limits</td><td id="limits">—</td></tr>
      </table>
    </section>
  </div>
  <div>
    <section>
      <h2>Pan / tilt (hold)</h2>
      <div class="row">through <select id="frontEnd">
        <option value="visca">VISCA, local bridge</option><option value="ndi">NDI PTZ metadata</option></select></div>
      <div class="row">pan speed <input id="panSpeed" type="range" min="1" max="24" value="12"></div>
      <div class="row">tilt speed <input id="tiltSpeed" type="range" min="1" max="24" value="12"></div>
      <div class="pad">
        <button data-pan="-1" data-tilt="1">&#8598;</button><button data-pan="0" data-tilt="1">&#8593;</button><button data-pan="1" data-tilt="1">&#8599;</button>
        <button data-pan="-1" data-tilt="0">&#8592;</button><button id="home">&#8962;</button><button data-pan="1" data-tilt="0">&#8594;</button>
        <button data-pan="-1" data-tilt="-1">&#8601;</button><button data-pan="0" data-tilt="-1">&#8595;</button><button data-pan="1" data-tilt="-1">&#8600;</button>
      </div>
    </section>
    <section>
      <h2>Zoom</h2>
      <div class="row"><button id="zoomWide">wide (hold)</button><button id="zoomTele">tele (hold)</button>
        speed <input id="zoomSpeed" type="number" min="0" max="7" value="4" style="width:3em"></div>
      <div class="row">position <input id="zoomPosition" type="range" min="0" max="16384" value="0"></div>
    </section>
    <section>
      <h2>Presets</h2>
      <div class="presets" id="recall"><span>recall</span></div>
      <div class="presets" id="save"><span>save</span></div>
    </section>
    <section>
      <h2>Tally, power, world</h2>
      <div class="row">NDI receivers: <label><input id="program" type="checkbox"> program</label>
        <label><input id="previewTally" type="checkbox"> preview</label></div>
      <div class="row">VISCA tally <button id="tallyOn">on</button><button id="tallyOff">off</button>
        power <button id="powerOn">on</button><button id="powerOff">off</button></div>
      <div class="row">input <select id="inputFormat"></select></div>
      <div class="row">audio rate <select id="audioRateChoice">
        <option>48000</option><option>44100</option><option>32000</option></select></div>
      <div id="reply"></div>
    </section>
  </div>
</main>
)PAGE";

const char* const kScript = R"PAGE(<script>
"use strict";
const $ = (id) => document.getElementById(id);
const NONE = "\u2014";
const FORMATS = ["1080p60", "1080p59.94", "1080p50", "1080p30", "1080p29.97", "1080p25", "1080p24", "1080p23.98",
  "1080i60", "1080i59.94", "1080i50", "720p60", "720p59.94", "720p50", "720p30", "720p25", "720p24", "576i", "480i",
  "none"];

// A key of the state that is not there (yet) shows as a dash.
function pick(state, path) {
  return path.split(".").reduce((node, key) => (node == null ? undefined : node[key]), state);
}
function text(value, digits) {
  if (value === undefined || value === null) return NONE;
  if (typeof value === "number" && digits !== undefined) return value.toFixed(digits);
  return typeof value === "object" ? JSON.stringify(value) : String(value);
}
function pair(state, a, b) { return text(pick(state, a)) + " / " + text(pick(state, b)); }
function setSwitch(id, closed) { $(id).classList.toggle("closed", closed === true); }

function render(state) {
  const pan = pick(state, "pan.angle_deg"), tilt = pick(state, "tilt.angle_deg");
  $("pan").textContent = text(pan, 1);
  $("tilt").textContent = text(tilt, 1);
  $("panHead").setAttribute("transform", "rotate(" + (pan || 0) + ")");
  $("tiltHead").setAttribute("transform", "rotate(" + -(tilt || 0) + ")");
  setSwitch("panLeft", pick(state, "pan.switch_left"));
  setSwitch("panRight", pick(state, "pan.switch_right"));
  setSwitch("tiltSwitch", pick(state, "tilt.switch_left") || pick(state, "tilt.switch_right"));
  const lamp = pick(state, "fpga.lamp");
  $("lamp").dataset.code = text(lamp);
  $("lampCode").textContent = text(lamp);
  $("zoom").textContent = text(pick(state, "zoom.position"));
  $("power").textContent = text(pick(state, "camera.power"));
  $("limits").textContent = text(pick(state, "ptz.limit_state"));
  $("input").textContent = text(pick(state, "input"));
  $("hdmi").textContent = pair(state, "hdmi.state", "hdmi.format");
  $("frames").textContent = pair(state, "ndi.video_frames.full", "ndi.video_frames.preview");
  $("quality").textContent = pair(state, "ndi.quality.full", "ndi.quality.preview");
  $("drops").textContent = pair(state, "compress.drops.capture", "compress.drops.send");
  $("audioFrames").textContent = text(pick(state, "ndi.audio_frames"));
  $("audioRate").textContent = text(pick(state, "audio.rate"));
  $("ndiTally").textContent = pair(state, "ndi.tally.program", "ndi.tally.preview");
}

async function pollState() {
  try {
    const answer = await fetch("/state", { cache: "no-store" });
    render(await answer.json());
    $("link").textContent = "live";
  } catch (error) {
    $("link").textContent = "no answer from the virtual camera";
  }
  setTimeout(pollState, 200);
}

// The preview: two requests in flight, each asking again once its picture is decoded, so
// the waits of one overlap the other's work; each at most every 80 ms, so the page asks for
// 25 pictures a second at most (each costs the camera a decode and a PNG). A picture is shown
// only when it is newer than the one on screen (by its timecode); the rate counts the
// pictures shown in the last two seconds.
const shown = [];
let newest = -1;
const pause = (ms) => new Promise((done) => setTimeout(done, ms));
function show(picture) {
  const canvas = $("preview");
  if (canvas.width !== picture.width || canvas.height !== picture.height) {
    canvas.width = picture.width;
    canvas.height = picture.height;
  }
  canvas.getContext("2d").drawImage(picture, 0, 0);
  const now = performance.now();
  shown.push(now);
  while (shown.length && shown[0] < now - 2000) shown.shift();
  $("rate").textContent = (shown.length / 2).toFixed(1);
}
async function previewLoop() {
  for (;;) {
    const started = performance.now();
    try {
      const answer = await fetch("/ndi/video/preview.png", { cache: "no-store" });
      if (!answer.ok) throw new Error("no preview picture yet");
      const timecode = Number(answer.headers.get("X-Timecode"));
      const picture = await createImageBitmap(await answer.blob());
      if (timecode > newest) {
        newest = timecode;
        show(picture);
      }
      picture.close();
      await pause(80 - (performance.now() - started));
    } catch (error) {
      await pause(250);
    }
  }
}

function report(sent, status, answer) {
  $("reply").textContent = sent + "\n" + status + " " + answer.trim().replace(/\n/g, " | ");
  $("reply").classList.toggle("failed", status !== 200);
}
async function post(path, body) {
  try {
    const answer = await fetch(path, { method: "POST", body: body });
    report(path + " " + body, answer.status, await answer.text());
  } catch (error) {
    report(path + " " + body, 0, "no answer from the virtual camera");
  }
}

// VISCA through the camera's local web bridge (address byte 0x82).
const hex = (n) => n.toString(16).padStart(2, "0");
function visca(...bytes) { return post("/visca", ["82", ...bytes.map(hex), "ff"].join(" ")); }
function nibbles(value) { return [12, 8, 4, 0].map((shift) => (value >> shift) & 0xf); }

function panTiltVisca(pan, tilt) {
  const pv = Number($("panSpeed").value), tv = Number($("tiltSpeed").value);
  const xx = pan < 0 ? 1 : pan > 0 ? 2 : 3, yy = tilt > 0 ? 1 : tilt < 0 ? 2 : 3;
  return visca(0x01, 0x06, 0x01, pv, tv, xx, yy);
}
// NDI speeds: positive pan is left, positive tilt is up, -1..1.
function panTiltNdi(pan, tilt) {
  const ps = (-pan * Number($("panSpeed").value) / 24).toFixed(3);
  const ts = (tilt * Number($("tiltSpeed").value) / 24).toFixed(3);
  return post("/ndi/metadata", '<ntk_ptz_pan_tilt_speed pan_speed="' + ps + '" tilt_speed="' + ts + '"/>');
}
function panTilt(pan, tilt) {
  return $("frontEnd").value === "ndi" ? panTiltNdi(pan, tilt) : panTiltVisca(pan, tilt);
}

// Press and hold: the move starts on press and stops on release, or when the pointer leaves.
// The stop waits for the start's answer so it can never overtake it.
function holdButton(button, start, stop) {
  let started = null;
  button.addEventListener("pointerdown", (event) => {
    button.setPointerCapture(event.pointerId);
    started = start();
  });
  const release = async () => {
    if (!started) return;
    const move = started;
    started = null;
    await move;
    stop();
  };
  ["pointerup", "pointercancel", "lostpointercapture"].forEach((name) => button.addEventListener(name, release));
}

document.querySelectorAll(".pad button[data-pan]").forEach((button) => {
  const pan = Number(button.dataset.pan), tilt = Number(button.dataset.tilt);
  holdButton(button, () => panTilt(pan, tilt), () => panTilt(0, 0));
});
$("home").addEventListener("click", () => visca(0x01, 0x06, 0x04));

const zoomSpeed = () => Math.min(7, Math.max(0, Number($("zoomSpeed").value) | 0));
holdButton($("zoomTele"), () => visca(0x01, 0x04, 0x07, 0x20 + zoomSpeed()), () => visca(0x01, 0x04, 0x07, 0x00));
holdButton($("zoomWide"), () => visca(0x01, 0x04, 0x07, 0x30 + zoomSpeed()), () => visca(0x01, 0x04, 0x07, 0x00));
$("zoomPosition").addEventListener("change", (event) =>
  visca(0x01, 0x04, 0x47, ...nibbles(Number(event.target.value))));

for (let p = 0; p <= 9; ++p) {
  for (const [row, action] of [["recall", 0x02], ["save", 0x01]]) {
    const button = document.createElement("button");
    button.textContent = p;
    button.id = row + p;
    button.addEventListener("click", () => visca(0x01, 0x04, 0x3f, action, p));
    $(row).appendChild(button);
  }
}

function sendTally() {
  post("/ndi/tally?program=" + Number($("program").checked) + "&preview=" + Number($("previewTally").checked), "");
}
$("program").addEventListener("change", sendTally);
$("previewTally").addEventListener("change", sendTally);
$("tallyOn").addEventListener("click", () => visca(0x01, 0x7e, 0x01, 0x0a, 0x00, 0x02));
$("tallyOff").addEventListener("click", () => visca(0x01, 0x7e, 0x01, 0x0a, 0x00, 0x03));
$("powerOn").addEventListener("click", () => visca(0x01, 0x04, 0x00, 0x02));
$("powerOff").addEventListener("click", () => visca(0x01, 0x04, 0x00, 0x03));

FORMATS.forEach((name) => $("inputFormat").add(new Option(name, name)));
$("inputFormat").addEventListener("change", (event) => post("/input", event.target.value));
$("audioRateChoice").addEventListener("change", (event) => post("/audio", event.target.value));

fetch("/state").then((answer) => answer.json()).then((state) => {
  if (state.input) $("inputFormat").value = state.input;
}).catch(() => {});
pollState();
window.addEventListener("load", () => { previewLoop(); previewLoop(); });
</script>
</body>
</html>
)PAGE";
}  // namespace

const std::string& dashboardPage() {
    static const std::string page = std::string(kHead) + kBody + kScript;
    return page;
}

}  // namespace sim
