// The editor's times as a person meets them, in Debian's Chromium at
// 1440x900: from an edit of the program on a 1920x1080 photograph to its
// picture drawn (and, of that, from the render's request to the picture
// drawn), and from an arrow key to both pictures of the next frame of a
// 10-second 1080p H.264 clip drawn. Both include the page's wait
// after the last change (25 ms). The media are made with ffmpeg in a temporary folder.
//
// Usage: node bench/editor_page_bench.mjs VEXLOR [ROUNDS]
// (playwright-core from tests/browser: run `npm ci` there first.)
import { spawn, spawnSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));
const { chromium } = await import(path.join(here, "../tests/browser/node_modules/playwright-core/index.mjs"));
const vexlor = path.resolve(process.argv[2] || "build/release/cli/vexlor");
const rounds = Number(process.argv[3] || 20);
const work = fs.mkdtempSync(path.join(os.tmpdir(), "vexlor-page-bench-"));
const ffmpeg = (args) => {
  const r = spawnSync("ffmpeg", ["-nostdin", "-v", "error", "-y", ...args], { cwd: work });
  if (r.status !== 0) throw new Error(`ffmpeg ${args.join(" ")}: ${r.stderr}`);
};
ffmpeg(["-f", "lavfi", "-i", "testsrc2=size=1920x1080", "-frames:v", "1", "photo.png"]);
ffmpeg(["-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=25", "-t", "10", "-c:v", "libx264",
        "-preset", "veryfast", "-pix_fmt", "yuv420p", "clip.mp4"]);

// vexlor serve on an input, at the address it prints.
function serve(input) {
  const child = spawn(vexlor, ["serve", input], { cwd: work, stdio: ["ignore", "pipe", "inherit"] });
  return new Promise((resolve) => child.stdout.on("data", (d) => {
    const m = String(d).match(/(http:\S+\/) /);
    if (m) resolve({ url: m[1], child });
  }));
}

const median = (a) => [...a].sort((x, y) => x - y)[Math.floor(a.length / 2)];
const browser = await chromium.launch({ executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
                                        args: ["--no-sandbox", "--disable-gpu"] });
try {
  const page = await browser.newPage({ viewport: { width: 1440, height: 900 } });
  let server = await serve("photo.png");
  await page.goto(server.url);
  await page.waitForFunction(() => document.getElementById("filtered").dataset.exact === "true");
  const edits = [], requests = [];
  for (let i = 0; i < rounds; ++i) {
    const [edit, request] = await page.evaluate(async (program) => {
      const editor = document.getElementById("program");
      const start = performance.now();
      editor.value = program;
      editor.dispatchEvent(new Event("input"));
      await new Promise((done) => {
        const look = () => document.getElementById("filtered").dataset.program === program
          ? done() : requestAnimationFrame(look);
        look();
      });
      return [performance.now() - start, state.lastRenderMs];
    }, `rd=rs*0.${50 + i};gd=gs;bd=sin(bs*pi);`);
    edits.push(edit);
    requests.push(request);
    await page.waitForTimeout(400);  // typing on: the edits do not rest
  }
  server.child.kill("SIGTERM");

  server = await serve("clip.mp4");
  await page.goto(server.url);
  await page.waitForFunction(() => document.getElementById("filtered").dataset.exact === "true");
  await page.locator("#filtered-view").click({ position: { x: 2, y: 2 } });
  const steps = [];
  for (let i = 0; i < rounds; ++i) {
    const start = Date.now();
    await page.keyboard.press(i % 4 === 3 ? "ArrowLeft" : "ArrowRight");
    const frame = await page.evaluate(() => frameNumber());
    await page.waitForFunction((f) => ["filtered", "source"].every(
      (id) => document.getElementById(id).dataset.frame === String(f)), frame);
    steps.push(Date.now() - start);
    await page.waitForTimeout(300);
  }
  server.child.kill("SIGTERM");
  console.log(`photo edit to picture drawn: median ${median(edits).toFixed(1)} ms ` +
              `(render request to picture drawn: ${median(requests).toFixed(1)} ms), ${rounds} edits`);
  console.log(`frame step to both pictures drawn: median ${median(steps)} ms, ${rounds} steps`);
} finally {
  await browser.close();
  fs.rmSync(work, { recursive: true, force: true });
}
