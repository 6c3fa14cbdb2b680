// The grid in a real browser: Debian's chromium, headless, opens the page of a
// Velto that talks to a fake video app, sees the cells Velto lights, presses a
// cell with the pointer and sees the value reach the video app, and saves a
// screenshot. Exits 77 (skipped) when chromium or node_modules are missing.
//
//   node grid.mjs VELTO_EXECUTABLE SCREENSHOT.png

import dgram from "node:dgram";
import fs from "node:fs";
import path from "node:path";
import { bound, chromium, chromiumFlags, decode, encode, freeTcpPort, freeUdpPort, startVelto, waitFor }
  from "./peers.mjs";

const [velto, screenshot] = process.argv.slice(2);
const puppeteer = await import("puppeteer-core").then(module => module.default, () => null);
if (!puppeteer || !fs.existsSync(chromium)) {
  console.log("skipped: no " + (puppeteer ? chromium : "node_modules (npm ci in the source folder)"));
  process.exit(77);
}

// The fake video app: four layers, opacity 4 full, media time of layer 1 halfway.
const video = dgram.createSocket("udp4");
const grid = dgram.createSocket("udp4");
const ports = { videoPort: await bound(video), gridPort: await bound(grid), listenVideo: await freeUdpPort(),
                listenGrid: await freeUdpPort(), webPort: await freeTcpPort() };
const received = [];
video.on("message", data => {
  const messages = decode(data);
  received.push(...messages);
  if (!messages.some(m => m.address === "/stagevue/ping")) return;
  for (const reply of [encode("/stagevue/layerNumber", { type: "i", value: 4 }),
                       encode("/stagevue/layer/opacity/4", { type: "f", value: 100 }),
                       encode("/stagevue/layer/media/time/1", { type: "f", value: 0.5 })])
    video.send(reply, ports.listenVideo, "127.0.0.1");
});

let running, browser;
try {
  running = await startVelto(velto, ports);
  browser = await puppeteer.launch({ executablePath: chromium, headless: true, args: chromiumFlags,
                                     userDataDir: path.join(running.home, "chromium") });
  const page = await browser.newPage();
  await page.setViewport({ width: 900, height: 560 });
  await page.goto(running.page);
  const lit = () => page.$$eval(".cell.lit", cells => cells.map(c => c.dataset.x + "," + c.dataset.y).sort().join(" "));
  // The opacity 4 fader's column at its top and the halfway cell of layer 1's time row.
  await waitFor("the lit cells", async () => (await lit()) === "0,4 0,5 0,6 4,3");
  await waitFor("the video app heard from", () => page.$eval("#video", e => e.textContent === "heard from"));

  // Press and release layer 4's time at column 6: the video app gets 0.75.
  const box = await (await page.$('.cell[data-x="6"][data-y="0"]')).boundingBox();
  await page.mouse.click(box.x + box.width / 2, box.y + box.height / 2);
  await waitFor("the press at the video app",
    () => received.some(m => m.address === "/stagevue/layer/media/time/4" && m.args[0] === 0.75));
  await waitFor("the slider lit at the pressed cell", async () => (await lit()).includes("6,0"));
  await page.screenshot({ path: screenshot });

  // A frame that is not a press closes that socket only: the page's own stays live.
  const link = await page.evaluate(() => new Promise(done => {
    const socket = new WebSocket("ws://" + location.host + "/", "velto-grid");
    socket.onopen = () => socket.send("9,9,9");
    socket.onclose = () => done(document.getElementById("link").textContent);
    setTimeout(() => done("the bad frame's socket still open"), 5000);
  }));
  if (link !== "live") throw new Error("after a bad frame: " + link);
  console.log("ok: lit cells seen, press reached the video app, a bad frame closed; screenshot " + screenshot);
} catch (error) {
  console.error("FAILED: " + error.message + "\nvelto said: " + (running ? running.log() : ""));
  process.exitCode = 1;
} finally {
  if (browser) await browser.close();
  if (running) {
    // Quits cleanly, every resource given back (the sanitizers' builds check).
    const exited = new Promise(done => running.child.on("exit", done));
    running.child.kill("SIGTERM");
    const code = running.child.exitCode ?? await exited;
    if (code !== 0) {
      console.error("FAILED: velto exited " + code + ": " + running.log());
      process.exitCode = 1;
    }
    fs.rmSync(running.home, { recursive: true, force: true });
  }
}
process.exit();  // with the exit code set above, if any; the peers' sockets close with it
