// What the browser test and the browser benchmark share: OSC as much as they
// need, free loopback ports, and a velto started with a settings file of its
// own whose start line gives the page's address.

import { spawn } from "node:child_process";
import dgram from "node:dgram";
import fs from "node:fs";
import net from "node:net";
import os from "node:os";
import path from "node:path";

export const chromium = "/usr/bin/chromium";
export const chromiumFlags = ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
  "--disable-background-networking", "--disable-component-update", "--disable-sync"];

// OSC, as much as this test needs: an address, then int32 or float32 arguments.
export const padded = text => { const b = Buffer.alloc((text.length + 4) & ~3); b.write(text); return b; };
export function encode(address, ...args) {
  const parts = [padded(address), padded("," + args.map(a => a.type).join(""))];
  for (const a of args) {
    const b = Buffer.alloc(4);
    a.type === "i" ? b.writeInt32BE(a.value) : b.writeFloatBE(a.value);
    parts.push(b);
  }
  return Buffer.concat(parts);
}
export function decode(data) {
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

export const bound = socket => new Promise(done => socket.bind(0, "127.0.0.1", () => done(socket.address().port)));
export async function freeUdpPort() { const s = dgram.createSocket("udp4"); const port = await bound(s); s.close(); return port; }
export function freeTcpPort() {
  return new Promise(done => { const s = net.createServer().listen(0, "127.0.0.1", () => { const { port } = s.address(); s.close(() => done(port)); }); });
}

// Velto with the given ports ({videoPort, gridPort, listenVideo, listenGrid,
// webPort}); resolves to {child, page, home, log()} once the start line names the page.
export function startVelto(velto, ports) {
  const home = fs.mkdtempSync(path.join(os.tmpdir(), "velto-browser-"));
  const child = spawn(velto, ["--settings", path.join(home, "settings"), "--stagevue-send-port", ports.videoPort,
    "--stagevue-listen-port", ports.listenVideo, "--monome-send-port", ports.gridPort,
    "--monome-listen-port", ports.listenGrid, "--web-port", ports.webPort].map(String),
    { stdio: ["ignore", "pipe", "pipe"] });
  let log = "";
  return new Promise((done, fail) => {
    const read = chunk => {
      log += chunk;
      const m = log.match(/page (http:\/\/\S+)/);
      if (m) done({ child, page: m[1], home, log: () => log });
    };
    child.stdout.on("data", read);
    child.stderr.on("data", read);
    child.on("exit", code => fail(new Error("velto exited " + code + ": " + log)));
  });
}

export async function waitFor(what, check, ms = 10000) {
  for (const end = Date.now() + ms; Date.now() < end; await new Promise(r => setTimeout(r, 20)))
    if (await check()) return;
  throw new Error("timed out waiting for " + what);
}
