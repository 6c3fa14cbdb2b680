// The browser grid's figures: the wake-ups of a velto with the web port on and
// no page open, and the time from a value reaching velto to the page drawing
// the light it causes (the lit cell of a media-time row moving), p50 and p99.
// Needs chromium and `npm ci` in the source folder.
//
//   node bench/BrowserBench.mjs build/velto [samples=500] [idleSeconds=10]

import dgram from "node:dgram";
import fs from "node:fs";
import path from "node:path";
import { bound, chromium, chromiumFlags, encode, freeTcpPort, freeUdpPort, startVelto, waitFor }
  from "../tests/browser/peers.mjs";

const [velto, samples = 500, idleSeconds = 10] = process.argv.slice(2);
const puppeteer = (await import("puppeteer-core")).default;
const sleep = ms => new Promise(r => setTimeout(r, ms));

// Voluntary context switches of every thread of a process: each is a wake-up.
function wakeUps(pid) {
  let total = 0;
  for (const task of fs.readdirSync(`/proc/${pid}/task`))
    total += Number(/voluntary_ctxt_switches:\s+(\d+)/.exec(fs.readFileSync(`/proc/${pid}/task/${task}/status`, "utf8"))[1]);
  return total;
}
async function idle(pid, when) {
  await sleep(1000);
  const before = wakeUps(pid);
  await sleep(idleSeconds * 1000);
  console.log(`idle, ${when}: ${((wakeUps(pid) - before) / idleSeconds).toFixed(2)} wake-ups/s over ${idleSeconds} s`);
}

const video = dgram.createSocket("udp4");
const grid = dgram.createSocket("udp4");
const ports = { videoPort: await bound(video), gridPort: await bound(grid), listenVideo: await freeUdpPort(),
                listenGrid: await freeUdpPort(), webPort: await freeTcpPort() };
const running = await startVelto(velto, ports);
const send = message => video.send(message, ports.listenVideo, "127.0.0.1");
send(encode("/stagevue/layerNumber", { type: "i", value: 4 }));
await idle(running.child.pid, "web port on, no page ever opened");

const browser = await puppeteer.launch({ executablePath: chromium, headless: true, args: chromiumFlags,
                                         userDataDir: path.join(running.home, "chromium") });
const page = await browser.newPage();
await page.goto(running.page);
// Stamps the moment the page draws a lit cell in layer 1's time row (row 3).
await page.evaluate(() => {
  window.marks = [];
  const row = [...document.querySelectorAll('.cell[data-y="3"]')];
  new MutationObserver(() => {
    const lit = row.findIndex(c => c.classList.contains("lit"));
    if (lit >= 0) window.marks.push({ x: lit, t: performance.timeOrigin + performance.now() });
  }).observe(document.getElementById("board"), { subtree: true, attributes: true, attributeFilter: ["class"] });
});
const latencies = [];
for (let i = 0; i < samples; i++) {
  const x = i % 8;
  const sent = performance.timeOrigin + performance.now();
  send(encode("/stagevue/layer/media/time/1", { type: "f", value: x / 8 }));
  let mark;
  await waitFor("the cell " + x, async () => (mark = await page.evaluate((x, sent) =>
    window.marks.find(m => m.x === x && m.t >= sent), x, sent)) !== undefined);
  latencies.push(mark.t - sent);
}
latencies.sort((a, b) => a - b);
const at = q => latencies[Math.min(latencies.length - 1, Math.floor(q * latencies.length))].toFixed(2);
console.log(`value in to light drawn on the page, ${samples} samples: p50 ${at(0.5)} ms, p99 ${at(0.99)} ms, max ${at(1)} ms`);
await idle(running.child.pid, "a page open, nothing changing");
await browser.close();
await idle(running.child.pid, "web port on, after the page closed");

running.child.kill("SIGTERM");
fs.rmSync(running.home, { recursive: true, force: true });
video.close();
grid.close();
