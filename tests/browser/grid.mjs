// The grid in a real browser: Debian's chromium, headless, opens the page of a
// Velto that talks to a fake video app, sees the cells Velto lights, presses a
// cell with the pointer and sees the value reach the video app, and saves a
// screenshot. Exits 77 (skipped) when chromium or node_modules are missing.
//
//   node grid.mjs VELTO_EXECUTABLE SCREENSHOT.png

import { spawn } from "node:child_process";
import dgram from "node:dgram";
import fs from "node:fs";
import net from "node:net";
import os from "node:os";
import path from "node:path";

const [velto, screenshot] = process.argv.slice(2);
const chromium = "/usr/bin/chromium";
let puppeteer;
try {
  puppeteer = (await import("puppeteer-core")).default;
} catch {
  console.log("skipped: no node_modules (npm ci in tests/browser)");
  process.exit(77);
}
if (!fs.existsSync(chromium)) {
  console.log("skipped: no " + chromium);
  process.exit(77);
}

// OSC, as much as this test needs: an address, then int32 or float32 arguments.
const padded = text => { const b = Buffer.alloc((text.length + 4) & ~3); b.write(text); return b; };
function encode(address, ...args) {
  const parts = [padded(address), padded("," + args.map(a => a.type).join(""))];
  for (const a of args) {
    const b = Buffer.alloc(4);
    a.type === "i" ? b.writeInt32BE(a.value) : b.writeFloatBE(a.value);
    parts.push(b);
  }
  return Buffer.concat(parts);
}
function decode(data) {
  if (data.toString("latin1", 0, 8) === "#bundle\0") {
    const messages = [];
    for (let at = 16; at + 4 <= data.length; at += 4 + data.readInt32BE(at))
      messages.push(...decode(data.subarray(at + 4, at + 4 + data.readInt32BE(at))));
    return messages;
  }
  const address = data.toString("latin1", 0, data.indexOf(0));
  const tagsAt = (address.length + 4) & ~3;
  const tags = data.toString("latin1", tagsAt + 1, data.indexOf(0, tagsAt));
  let at = tagsAt + ((tags.length + 2 + 3) & ~3);
  const args = [...tags].map(t => { const v = t === "f" ? data.readFloatBE(at) : data.readInt32BE(at); at += 4; return v; });
  return [{ address, args }];
}

const bound = socket => new Promise(done => socket.bind(0, "127.0.0.1", () => done(socket.address().port)));
async function freeUdpPort() { const s = dgram.createSocket("udp4"); const port = await bound(s); s.close(); return port; }
function freeTcpPort() {
  return new Promise(done => { const s = net.createServer().listen(0, "127.0.0.1", () => { const { port } = s.address(); s.close(() => done(port)); }); });
}

// The fake video app: four layers, opacity 4 full, media time of layer 1 halfway.
const video = dgram.createSocket("udp4");
const received = [];
const videoPort = await bound(video);
const grid = dgram.createSocket("udp4");
const gridPort = await bound(grid);
const [listenVideo, listenGrid, webPort] = [await freeUdpPort(), await freeUdpPort(), await freeTcpPort()];
video.on("message", data => {
  const messages = decode(data);
  received.push(...messages);
  if (!messages.some(m => m.address === "/stagevue/ping")) return;
  for (const reply of [encode("/stagevue/layerNumber", { type: "i", value: 4 }),
                       encode("/stagevue/layer/opacity/4", { type: "f", value: 100 }),
                       encode("/stagevue/layer/media/time/1", { type: "f", value: 0.5 })])
    video.send(reply, listenVideo, "127.0.0.1");
});

const home = fs.mkdtempSync(path.join(os.tmpdir(), "velto-browser-"));
const child = spawn(velto, ["--settings", path.join(home, "settings"), "--stagevue-send-port", videoPort,
  "--stagevue-listen-port", listenVideo, "--monome-send-port", gridPort, "--monome-listen-port", listenGrid,
  "--web-port", webPort].map(String), { stdio: ["ignore", "pipe", "pipe"] });
let log = "";
const pageAddress = new Promise((done, fail) => {
  const read = chunk => { log += chunk; const m = log.match(/page (http:\/\/\S+)/); if (m) done(m[1]); };
  child.stdout.on("data", read);
  child.stderr.on("data", read);
  child.on("exit", code => fail(new Error("velto exited " + code + ": " + log)));
});

async function waitFor(what, check, ms = 10000) {
  for (const end = Date.now() + ms; Date.now() < end; await new Promise(r => setTimeout(r, 20)))
    if (await check()) return;
  throw new Error("timed out waiting for " + what);
}

let browser;
let failed = false;
try {
  const address = await pageAddress;
  browser = await puppeteer.launch({
    executablePath: chromium, headless: true, userDataDir: path.join(home, "chromium"),
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync"],
  });
  const page = await browser.newPage();
  await page.setViewport({ width: 900, height: 560 });
  await page.goto(address);
  const lit = () => page.$$eval(".cell.lit", cells => cells.map(c => c.dataset.x + "," + c.dataset.y).sort().join(" "));
  // The opacity 4 fader's column at its top and the halfway cell of layer 1's time row.
  await waitFor("the lit cells", async () => (await lit()) === "0,4 0,5 0,6 4,3");
  await waitFor("the video app heard from", () => page.$eval("#video", e => e.textContent === "heard from"));

  // Press and release layer 4's time at column 6: the video app gets 0.75.
  const cell = await page.$('.cell[data-x="6"][data-y="0"]');
  const box = await cell.boundingBox();
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  await page.mouse.down();
  await page.mouse.up();
  await waitFor("the press at the video app",
    () => received.some(m => m.address === "/stagevue/layer/media/time/4" && m.args[0] === 0.75));
  await waitFor("the slider lit at the pressed cell", async () => (await lit()).includes("6,0"));
  await page.screenshot({ path: screenshot });
  console.log("ok: lit cells seen, press reached the video app; screenshot " + screenshot);
} catch (error) {
  console.error("FAILED: " + error.message + "\nvelto said: " + log);
  failed = true;
} finally {
  if (browser) await browser.close();
  child.kill("SIGTERM");
  video.close();
  grid.close();
  fs.rmSync(home, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
