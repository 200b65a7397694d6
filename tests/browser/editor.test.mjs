// vexlor serve's page in a real browser (Debian's Chromium, driven by
// playwright-core): the filtered picture follows the typed program and holds
// apply's pixels, mistakes are marked where they are, clamp and the frame
// slider take effect, Save writes the file, and a screenshot is kept.
//
// Environment: VEXLOR (the built binary), SCREENSHOT (where the picture of
// the page goes), CHROMIUM (default /usr/bin/chromium).
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { spawn, spawnSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";

const vexlor = process.env.VEXLOR;
const chromiumPath = process.env.CHROMIUM || "/usr/bin/chromium";
const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../..");
const screenshot = process.env.SCREENSHOT || path.join(root, "build/browser/editor.png");
const work = fs.mkdtempSync(path.join(os.tmpdir(), "vexlor-browser-"));
const servers = [];
let context;

// ---- Helpers --------------------------------------------------------------

function run(args) {
  const r = spawnSync(vexlor, args, { cwd: work, encoding: "utf8" });
  assert.equal(r.status, 0, `vexlor ${args.join(" ")}: ${r.stderr}`);
  return r.stdout;
}

// A binary PPM's pixels as [r, g, b] bytes.
function readPpm(file) {
  const bytes = fs.readFileSync(file);
  const header = bytes.subarray(0, 64).toString("latin1").match(/^P6\s+(\d+)\s+(\d+)\s+255\s/);
  assert.ok(header, `${file} is no P6 picture`);
  return { width: +header[1], height: +header[2], rgb: bytes.subarray(header[0].length) };
}

function writePpm(file, width, height, pixel) {
  const head = Buffer.from(`P6\n${width} ${height}\n255\n`, "latin1");
  const body = Buffer.alloc(width * height * 3);
  for (let y = 0; y < height; ++y)
    for (let x = 0; x < width; ++x) body.set(pixel(x, y), (y * width + x) * 3);
  fs.writeFileSync(file, Buffer.concat([head, body]));
}

// What vexlor apply writes for the program, as RGB bytes.
function applied(program, { clamp = false, frame = 0 } = {}) {
  const out = path.join(work, "applied.ppm");
  run(["apply", "--quiet", ...(clamp ? [] : ["--carry"]), "--frame", String(frame),
       program, "in.png", out]);
  return readPpm(out);
}

// Starts vexlor serve; resolves with the address it prints, or with the exit
// status and message when it stops first.
function serve(args) {
  const child = spawn(vexlor, ["serve", ...args], { cwd: work, stdio: ["ignore", "pipe", "pipe"] });
  servers.push(child);
  let out = "", err = "";
  return new Promise((resolve) => {
    child.stdout.on("data", (d) => {
      out += d;
      const m = out.match(/^vexlor: editing (.*) on (http:\/\/127\.0\.0\.1:\d+\/) \(Ctrl-C stops\)\n/);
      if (m) resolve({ url: m[2], input: m[1], child });
    });
    child.stderr.on("data", (d) => { err += d; });
    child.on("exit", (status) => resolve({ status, error: err.trim() }));
  });
}

// The pixels of the filtered picture the page shows, read through a canvas.
async function shownPixels(page) {
  return page.evaluate(() => {
    const img = document.getElementById("filtered");
    const canvas = document.createElement("canvas");
    canvas.width = img.naturalWidth;
    canvas.height = img.naturalHeight;
    const ctx = canvas.getContext("2d");
    ctx.drawImage(img, 0, 0);
    const data = ctx.getImageData(0, 0, canvas.width, canvas.height).data;
    const rgb = [];
    for (let i = 0; i < data.length; i += 4) rgb.push(data[i], data[i + 1], data[i + 2]);
    return { width: canvas.width, height: canvas.height, rgb };
  });
}

function assertSamePixels(shown, want, what) {
  assert.equal(shown.width, want.width, what);
  assert.equal(shown.height, want.height, what);
  let differ = 0;
  for (let i = 0; i < want.rgb.length; ++i) if (shown.rgb[i] !== want.rgb[i]) ++differ;
  assert.equal(differ, 0, `${what}: ${differ} channel values differ from apply's`);
}

// Replaces the editor's text by typing it key by key, as a user does.
async function typeProgram(page, text) {
  const editor = page.locator("#program");
  await editor.fill("");
  await editor.pressSequentially(text, { delay: 5 });
}

// Waits until the filtered picture is the exact one for these settings.
async function waitForRender(page, program, { clamp = true, frame = 0 } = {}) {
  await page.waitForFunction(([p, c, f]) => {
    const img = document.getElementById("filtered");
    return img.dataset.program === p && img.dataset.clamp === String(c) &&
           img.dataset.frame === String(f) && img.dataset.exact === "true" && img.complete;
  }, [program, clamp, frame]);
}

// Drags the divider to a fraction of the filtered pane's width.
async function dragDivider(page, fraction) {
  const div = await page.locator("#divider").boundingBox();
  const pane = await page.locator("#filtered-view").boundingBox();
  await page.mouse.move(div.x + div.width / 2, div.y + div.height / 2);
  await page.mouse.down();
  await page.mouse.move(pane.x + pane.width * fraction, div.y + div.height / 2, { steps: 4 });
  await page.mouse.up();
}

// The page point over the centre of a stored frame's pixel in a pane.
async function pointOf(page, pane, x, y) {
  const box = await page.locator(pane).boundingBox();
  const [px, py] = await page.evaluate(([a, b]) => toPane(a + 0.5, b + 0.5), [x, y]);
  return [box.x + px, box.y + py];
}

// Waits for the inspector's trace of these settings.
async function waitForTrace(page, program, frame) {
  await page.waitForFunction(([p, f]) => {
    const t = document.getElementById("trace-table");
    return t.dataset.program === p && t.dataset.frame === String(f) &&
           document.getElementById("trace-output") !== null;
  }, [program, frame]);
}

async function openPage(url) {
  const page = await context.newPage();
  // Records the edit number of every picture the page shows.
  await page.addInitScript(() => {
    window.shownEdits = [];
    new MutationObserver((changes) => {
      for (const c of changes)
        if (c.target.id === "filtered" && c.attributeName === "data-edit")
          window.shownEdits.push(Number(c.target.dataset.edit));
    }).observe(document, { subtree: true, attributes: true, attributeFilter: ["data-edit"] });
  });
  page.failedRequests = [];
  page.on("response", (r) => { if (r.status() >= 400) page.failedRequests.push(`${r.status()} ${r.url()}`); });
  await page.goto(url);
  await page.waitForSelector("#filtered[data-edit]", { state: "attached" });
  return page;
}

// ---- Set-up ---------------------------------------------------------------

before(async () => {
  assert.ok(vexlor, "VEXLOR must name the built vexlor binary");
  // The demo's picture, made as samples/make-sample.sh makes it.
  writePpm(path.join(work, "ramp.ppm"), 256, 192, (x, y) => [x, y, 0x80]);
  run(["apply", "--quiet", "--clamp", "-f", path.join(root, "samples/scene.vx"), "ramp.ppm", "in.png"]);
  fs.writeFileSync(path.join(work, "effect.vx"), "rd=rs;gd=gs;bd=bs;\n");
  const userData = fs.mkdtempSync(path.join(os.tmpdir(), "vexlor-chromium-"));
  context = await chromium.launchPersistentContext(userData, {
    executablePath: chromiumPath,
    headless: true,
    viewport: { width: 1400, height: 820 },
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
});

after(async () => {
  if (context) await context.close();
  for (const child of servers) if (child.exitCode === null) child.kill("SIGTERM");
  fs.rmSync(work, { recursive: true, force: true });
});

// ---- The page -------------------------------------------------------------

test("the filtered picture follows the typed program with apply's pixels", async () => {
  const { url } = await serve(["-f", "effect.vx", "in.png"]);
  assert.ok(url, "serve printed its address");
  const page = await openPage(url);
  // The clamp box starts checked, as apply clamps unless told --carry.
  assert.equal(await page.locator("#clamp").isChecked(), true);
  const program = "rd=gs;gd=rs*1.5;bd=sin(bs*pi)*0.9;";
  await typeProgram(page, program);
  await waitForRender(page, program);
  assert.equal(await page.locator("#verdict").getAttribute("data-runs"), "true");
  assertSamePixels(await shownPixels(page), applied(program, { clamp: true }), program);
  assert.match(await page.locator("#timing").textContent(), /frame \d+ ms/);
  assert.equal(await page.locator("#script-line").textContent(), `Config("${program}", 1)`);
  assert.match(await page.locator("#apply-command").textContent(), /^vexlor apply '/);
  assert.equal(await page.locator("#test-message").textContent(), run(["test", program]).trim());

  // A quick second edit: the picture shown is the last text's, never an older one.
  const last = "rd=bs;gd=gs;bd=rs;";
  await typeProgram(page, "rd=rs*0.25;gd=gs;bd=bs;");
  await page.locator("#program").fill(last);
  await page.locator("#program").dispatchEvent("input");
  await waitForRender(page, last);
  await page.waitForTimeout(400);
  assert.equal(await page.locator("#filtered").getAttribute("data-program"), last);
  // Every picture shown was for a newer edit than the one before it.
  const shown = await page.evaluate(() => window.shownEdits);
  assert.ok(shown.length >= 2, `pictures shown: ${shown}`);
  for (let i = 1; i < shown.length; ++i) assert.ok(shown[i] >= shown[i - 1], `order shown: ${shown}`);
  assertSamePixels(await shownPixels(page), applied(last, { clamp: true }), last);

  // Ctrl-S writes the program back to the file.
  await page.locator("#program").press("Control+s");
  await page.waitForFunction(() => document.getElementById("save-state").textContent.endsWith(": saved"));
  assert.equal(fs.readFileSync(path.join(work, "effect.vx"), "utf8"), last + "\n");
  await page.close();
});

test("a file's carriage returns, which the page cannot hold, do not pass for saved", async () => {
  fs.writeFileSync(path.join(work, "crlf.vx"), "rd=rs;\r\ngd=gs;\r\nbd=bs;\r\n");
  const { url } = await serve(["-f", "crlf.vx", "in.png"]);
  const page = await openPage(url);
  assert.equal(await page.locator("#save-state").textContent(),
               "crlf.vx: its carriage returns are shown and saved as line breaks");
  await page.locator("#program").press("Control+s");
  await page.waitForFunction(() => document.getElementById("save-state").textContent === "crlf.vx: saved");
  assert.equal(fs.readFileSync(path.join(work, "crlf.vx"), "utf8"), "rd=rs;\ngd=gs;\nbd=bs;\n");
  await page.close();
});

test("a cut expression and a failing statement are marked in the editor", async () => {
  // The text as the plug-in reads it: a blank cuts a statement short.
  const { url } = await serve(["--exact-text", "in.png"]);
  const page = await openPage(url);
  const cut = "rd=rs *2;gd=gs;bd=bs;";
  await typeProgram(page, cut);
  const mark = page.locator("#marks .cut");
  await mark.waitFor();
  assert.equal(await mark.textContent(), " *2");
  assert.equal(await mark.getAttribute("data-index"), "5");
  assert.match(await page.locator("#statements").textContent(), /no effect: " \*2"/);

  // A line break before a name: the page warns as apply does, and marks the name.
  const lines = "rd=rs;\ngd=gs;\nbd=bs;";
  const applied = spawnSync(vexlor, ["apply", "--quiet", "--exact-text", "--lenient", lines, "in.png",
                                     path.join(work, "w.png")],
                            { cwd: work, encoding: "utf8" });
  const first = applied.stderr.split("\n")[0];
  assert.ok(first.startsWith("vexlor: warning: statement 2: "), applied.stderr);
  await typeProgram(page, lines);
  // The warning of the text typed, not of the one before.
  await page.waitForFunction((want) => {
    const li = document.querySelector("#warnings li");
    return li && li.textContent === want;
  }, first.replace(/^vexlor: /, ""));
  assert.equal(await page.locator("#marks .cut").first().textContent(), "\ngd");

  const failing = "rd=rs;gd=gs+;bd=bs;";
  await typeProgram(page, failing);
  const err = page.locator("#marks .err");
  await err.waitFor();
  // check says: statement 2, column 7 (the ';' after the '+'), editor column 13.
  assert.equal(await err.getAttribute("data-index"), "12");
  assert.equal(await err.textContent(), ";");
  const message = page.locator("#error-message");
  assert.match(await message.textContent(), /^statement 2, column 7: /);
  assert.equal(await message.getAttribute("data-column"), "13");
  // The message stands under the marked place too.
  const placed = page.locator("#place-hint");
  await placed.waitFor();
  assert.ok((await placed.textContent()).startsWith((await message.textContent()).replace(/^statement 2, column 7: /, "")));
  const [markBox, hintBox] = [await err.boundingBox(), await placed.boundingBox()];
  assert.ok(hintBox.y >= markBox.y + markBox.height - 1 && hintBox.y < markBox.y + markBox.height + 30,
            `hint at ${JSON.stringify(hintBox)}, mark at ${JSON.stringify(markBox)}`);
  const check = spawnSync(vexlor, ["check", failing], { encoding: "utf8" });
  const said = (await message.textContent()).replace(/^statement 2, column 7: /, "");
  assert.ok(check.stdout.includes(`error at column 7: ${said}\n`), check.stdout);
  assert.equal(await page.locator("#verdict").getAttribute("data-runs"), "false");
  await page.waitForSelector("#filtered-pane.failed");

  // The edits are unsaved: leaving the page asks first.
  const asked = new Promise((resolve) => page.once("dialog", (d) => { resolve(d.type()); d.accept(); }));
  await page.close({ runBeforeUnload: true });
  assert.equal(await asked, "beforeunload");
});

test("the clamp box limits the channels as apply does, and --carry without it", async () => {
  const { url } = await serve(["--frame", "40", "in.png"]);
  const page = await openPage(url);
  const program = "rd=rs*2;gd=gs*3-0.5;bd=bs+fr/100;";
  await page.locator("#clamp").uncheck();
  await typeProgram(page, program);
  await waitForRender(page, program, { clamp: false, frame: 40 });
  assertSamePixels(await shownPixels(page), applied(program, { frame: 40 }), "without clamp");
  // Without clamp the channels carry, and the page says so as apply does.
  await page.waitForFunction(() =>
    document.getElementById("apply-command").textContent.startsWith("vexlor apply --carry --frame 40 "));
  const warned = spawnSync(vexlor, ["apply", "--carry", "--frame", "40", program, "in.png", path.join(work, "c.png")],
                           { cwd: work, encoding: "utf8" }).stderr;
  await page.waitForFunction(() => document.getElementById("carry").textContent !== "");
  assert.ok(warned.includes((await page.locator("#carry").textContent()).replace(/^vexlor: /, "")), warned);
  await page.locator("#clamp").check();
  await waitForRender(page, program, { clamp: true, frame: 40 });
  assertSamePixels(await shownPixels(page), applied(program, { clamp: true, frame: 40 }), "with clamp");
  assert.match(await page.locator("#apply-command").textContent(), /^vexlor apply --frame 40 /);

  assert.equal(await page.locator("#carry").textContent(), "");
  // 1:1 shows one picture pixel per screen pixel.
  await page.locator("#zoom-actual").click();
  assert.equal(await page.evaluate(() => view.scale * devicePixelRatio), 1);
  await page.close();
});

test("the frame slider of a short video picks the frame", async (t) => {
  const video = path.join(work, "short.mp4");
  const made = spawnSync("ffmpeg", ["-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=96x64:rate=10",
                                    "-frames:v", "12", "-pix_fmt", "yuv420p", video]);
  if (made.status !== 0) { t.skip("ffmpeg cannot make a test video here"); return; }
  const started = await serve([video]);
  if (!started.url) assert.fail(`vexlor serve on a video failed: ${started.error}`);
  const page = await openPage(started.url);
  const slider = page.locator("#frame-slider");
  assert.equal(await slider.isVisible(), true);
  assert.equal(await slider.getAttribute("max"), "11");
  await slider.fill("7");
  await waitForRender(page, "rd=rs;gd=gs;bd=bs;", { frame: 7 });
  assert.equal(await page.locator("#timecode").inputValue(), "00:00:00:07");
  await page.waitForFunction(() => document.getElementById("source").dataset.frame === "7");
  // The copy program shows the source frame itself.
  const source = await page.evaluate(async () => {
    const img = document.getElementById("source");
    await img.decode();
    const canvas = document.createElement("canvas");
    canvas.width = img.naturalWidth;
    canvas.height = img.naturalHeight;
    canvas.getContext("2d").drawImage(img, 0, 0);
    const data = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data;
    const rgb = [];
    for (let i = 0; i < data.length; i += 4) rgb.push(data[i], data[i + 1], data[i + 2]);
    return { width: canvas.width, height: canvas.height, rgb };
  });
  assertSamePixels(await shownPixels(page), source, "frame 7");
  await page.close();
});

test("the inspector follows a pixel as vexlor pixel does, and keeps it under the cursor while zooming", async () => {
  const { url } = await serve(["--frame", "12", "in.png"]);
  const page = await openPage(url);
  // No broken picture before the first render, and no missing icon.
  assert.equal(await page.locator("#filtered-wait").isHidden(), true);
  assert.deepEqual(page.failedRequests, []);
  const program = "k=rs*3-0.7;rd=k;gd=if(gs>0.5,gs,fr/40);bd=med(rs,gs,bs)+rand()*0;";
  await typeProgram(page, program);
  await waitForRender(page, program, { frame: 12 });
  run(["apply", "--quiet", "rd=rs;gd=gs;bd=bs;", "in.png", "in.ppm"]);
  const src = readPpm(path.join(work, "in.ppm"));
  const out = applied(program, { clamp: true, frame: 12 });
  for (const [x, y] of [[10, 20], [200, 150], [255, 0]]) {
    const [px, py] = await pointOf(page, "#filtered-view", x, y);
    await page.mouse.click(px, py);
    await waitForTrace(page, program, 12);
    await page.waitForFunction(([a, b]) => {
      const w = document.getElementById("trace-where");
      return w.dataset.x === String(a) && w.dataset.y === String(b);
    }, [x, y]);
    const i = (y * src.width + x) * 3;
    const bytes = [...src.rgb.subarray(i, i + 3)];
    assert.equal(await page.locator("#trace-source").getAttribute("data-bytes"), bytes.join(","));
    const printed = run(["pixel", "--bytes", bytes.join(","), "--frame", "12", "--clamp", program]).split("\n");
    const values = (await page.locator("#trace-output").getAttribute("data-values")).split(",").map(Number);
    assert.deepEqual(values.map((v) => Number(v.toPrecision(9))), printed[0].split(" ").map(Number), `${x},${y}`);
    assert.equal(await page.locator("#trace-output").getAttribute("data-packed"), printed[1]);
    assert.equal(await page.locator("#trace-output").getAttribute("data-bytes"),
                 [...out.rgb.subarray(i, i + 3)].join(","), "the rendered pixel");
    assert.equal(await page.locator("#trace-table tr[data-name=k]").count(), 1);
  }
  // Zooming about the inspected pixel keeps it under the cursor, up to 32x.
  const [px, py] = await pointOf(page, "#filtered-view", 200, 150);
  await page.locator("#filtered-view").click({ position: { x: 1, y: 1 }, trial: true });
  await page.mouse.click(px, py);
  await page.waitForFunction(() => document.getElementById("trace-where").dataset.x === "200");
  await page.mouse.move(px, py);
  for (let i = 0; i < 12; ++i) {
    await page.mouse.wheel(0, -400);
    const box = await page.locator("#filtered-view").boundingBox();
    const under = await page.evaluate(([a, b]) => fromPane(a, b), [px - box.x, py - box.y]);
    assert.deepEqual(under, [200, 150], `after ${i + 1} wheel steps`);
    if (i === 2) await page.screenshot({ path: path.join(path.dirname(screenshot), "editor-pixel.png") });
  }
  assert.equal(await page.evaluate(() => view.scale), 32);
  // Sharp pixels: one picture pixel is 32 CSS pixels of one colour.
  const [cx, cy] = await pointOf(page, "#filtered-view", 200, 150);
  const shot = await page.screenshot({ clip: { x: cx - 12, y: cy + 10, width: 24, height: 4 } });
  assert.ok(shot.length > 0);
  // Dragging pans both panes together.
  await page.mouse.move(px, py);
  await page.mouse.down();
  await page.mouse.move(px - 100, py - 60, { steps: 5 });
  await page.mouse.up();
  const box = await page.locator("#filtered-view").boundingBox();
  assert.deepEqual(await page.evaluate(([a, b]) => fromPane(a, b), [px - 100 - box.x, py - 60 - box.y]), [200, 150]);
  // The address keeps the view: a reload opens the same program, zoom and pixel.
  await page.waitForTimeout(400);
  const address = page.url();
  assert.match(address, /#.*pixel=200%2C150/);
  const again = await openPage(address);
  await waitForRender(again, program, { frame: 12 });
  assert.equal(await again.evaluate(() => view.scale), 32);
  assert.deepEqual(await again.evaluate(() => state.inspected), { x: 200, y: 150 });
  await again.close({ runBeforeUnload: false });
  await page.close();
});

test("the divider stays on the screen at every zoom and can be dragged", async () => {
  const { url } = await serve(["in.png"]);
  const page = await openPage(url);
  await page.locator("#mode-split").click();
  const pane = await page.locator("#filtered-view").boundingBox();
  for (const zoom of [null, 1, 4, 32]) {
    if (zoom === null) await page.locator("#zoom-fit").click();
    else await page.evaluate((z) => zoomCentre(z / (view.scale * devicePixelRatio)), zoom);
    const div = await page.locator("#divider").boundingBox();
    assert.ok(div && div.x + div.width / 2 > pane.x && div.x + div.width / 2 < pane.x + pane.width,
              `divider at zoom ${zoom}: ${JSON.stringify(div)} in ${JSON.stringify(pane)}`);
  }
  await dragDivider(page, 0.25);
  const cut = await page.evaluate(() => view.cut);
  assert.ok(Math.abs(cut - 0.25) < 0.02, `divider at ${cut}`);
  await page.close();
});

test("an example program loads with one click, and names complete while typing", async () => {
  const { url } = await serve(["in.png"]);
  const page = await openPage(url);
  await page.locator("#tab-language").click();
  await page.locator("#examples button[data-example=sepia]").click();
  const sepia = await page.locator("#program").inputValue();
  assert.match(sepia, /^rd=rs\*0\.393/);
  await waitForRender(page, sepia, { clamp: true });
  assertSamePixels(await shownPixels(page), applied(sepia, { clamp: true }), "sepia");
  assert.equal(await page.locator("#verdict").getAttribute("data-runs"), "true");
  // The panel says the quirks.
  assert.match(await page.locator("#language .entry[data-name=e]").textContent(), /2\.85/);
  assert.match(await page.locator("#language .entry[data-name=med]").textContent(), /mean/);
  await page.locator("#language-filter").fill("median");
  assert.equal(await page.locator("#language .entry:visible").count(), 1);
  await page.screenshot({ path: path.join(path.dirname(screenshot), "editor-language.png") });
  // Completion: "me" offers med, Tab takes it with its parenthesis.
  await page.locator("#program").fill("");
  await page.locator("#program").pressSequentially("rd=me", { delay: 5 });
  await page.locator("#completion li[data-name=med]").waitFor();
  await page.locator("#program").press("Tab");
  assert.equal(await page.locator("#program").inputValue(), "rd=med(");
  // ? lists the shortcuts.
  await page.locator("#tab-check").click();
  await page.locator("#help").focus();
  await page.keyboard.press("?");
  assert.equal(await page.locator("#shortcuts").isVisible(), true);
  await page.keyboard.press("Escape");
  assert.equal(await page.locator("#shortcuts").isVisible(), false);
  await page.close({ runBeforeUnload: false });
});

test("a video steps frame by frame, plays, and shows rotation, rate and time code", async (t) => {
  const plain = path.join(work, "steps-plain.mp4"), video = path.join(work, "steps.mp4");
  const made = spawnSync("sh", ["-c",
    `ffmpeg -v error -y -f lavfi -i testsrc2=size=160x96:rate=25 -frames:v 40 -g 12 -pix_fmt yuv420p '${plain}' && ` +
    `ffmpeg -v error -y -i '${plain}' -c copy -metadata:s:v:0 rotate=90 '${video}'`]);
  if (made.status !== 0) { t.skip("ffmpeg cannot make a test video here"); return; }
  const { url } = await serve([path.basename(video)]);
  const page = await openPage(url);
  assert.match(await page.locator("#input-size").textContent(), /160 × 96, shown turned 270°.*25 frames\/s, 40 frames/);
  // Shown upright: the pane holds a picture taller than wide.
  assert.deepEqual(await page.evaluate(() => upright()), [96, 160]);
  // A checksum of the frame the page holds, and of the API's frame N.
  const sums = async (n) => page.evaluate(async (frame) => {
    const sum = async (source) => {
      const bitmap = await createImageBitmap(source);
      const c = new OffscreenCanvas(bitmap.width, bitmap.height);
      const ctx = c.getContext("2d");
      ctx.drawImage(bitmap, 0, 0);
      let h = 0;
      for (const v of ctx.getImageData(0, 0, c.width, c.height).data) h = (h * 31 + v) >>> 0;
      return h;
    };
    const api = await (await fetch(`/api/source?frame=${frame}`)).blob();
    return [await sum(document.getElementById("source")), await sum(api)];
  }, n);
  const atFrame = async (n) => {
    await waitForRender(page, "rd=rs;gd=gs;bd=bs;", { frame: n });
    await page.waitForFunction((f) => {
      const s = document.getElementById("source");
      return s.dataset.frame === String(f) && s.dataset.exact === "true";
    }, n);
    const [shown, api] = await sums(n);
    assert.equal(shown, api, `frame ${n}`);
  };
  await page.locator("#frame-view, #filtered-view").first().click({ position: { x: 2, y: 2 } });
  for (const [key, n] of [["ArrowRight", 1], ["ArrowRight", 2], ["ArrowLeft", 1], ["End", 39], ["ArrowLeft", 38], ["Home", 0]]) {
    await page.keyboard.press(key);
    await atFrame(n);
  }
  await page.locator("#forward").click();
  await atFrame(1);
  await page.locator("#timecode").fill("00:00:01:05");
  await page.locator("#timecode").press("Enter");
  await atFrame(30);
  assert.equal(await page.locator("#timecode").inputValue(), "00:00:01:05");
  // Play advances the frames until stopped.
  await page.locator("#play").click();
  await page.waitForFunction(() => Number(document.getElementById("frame").value) >= 34);
  await page.locator("#play").click();
  await page.waitForFunction(() => document.getElementById("play").textContent === "Play");
  assert.match(await page.locator("#play-rate").textContent(), /frames\/s of 25/);
  await page.screenshot({ path: path.join(path.dirname(screenshot), "editor-video.png") });
  await page.close();
});

test("a screenshot of the editor is saved", async () => {
  const { url } = await serve(["-f", "effect.vx", "in.png"]);
  const page = await openPage(url);
  const program = "y=0.3*rs+0.59*gs+0.11*bs;rd=y*1.25;gd=y*0.95;bd=y*0.7+rs*0.2;";
  await typeProgram(page, program);
  await waitForRender(page, program, { clamp: true });
  await page.locator("#mode-split").click();
  await dragDivider(page, 0.4);
  await page.waitForTimeout(200);
  fs.mkdirSync(path.dirname(screenshot), { recursive: true });
  await page.screenshot({ path: screenshot });
  assert.ok(fs.statSync(screenshot).size > 10000);
  await page.close();
});
