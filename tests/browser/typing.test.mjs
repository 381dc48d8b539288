// The package's TypeScript declarations: a small typed till compiles against them, through
// the package's exports as an installed copy would resolve them, and what they must refuse
// is refused.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { copyFileSync, mkdirSync, symlinkSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { test } from "node:test";

import { scratch, webDir } from "./harness.mjs";

test("typed usage compiles with tsc --noEmit", () => {
  const folder = scratch("typing");
  mkdirSync(join(folder, "node_modules", "@kovmodule"), { recursive: true });
  symlinkSync(webDir, join(folder, "node_modules", "@kovmodule", "bridge-client"));
  copyFileSync(new URL("typed-usage.ts", import.meta.url), join(folder, "typed-usage.ts"));
  writeFileSync(join(folder, "tsconfig.json"), JSON.stringify({
    compilerOptions: {
      strict: true, noEmit: true, target: "es2022", module: "esnext", moduleResolution: "bundler",
      lib: ["es2022", "dom"], types: [], skipLibCheck: false,
    },
    files: ["typed-usage.ts"],
  }));
  const tsc = spawnSync(process.execPath, [join(webDir, "node_modules", "typescript", "bin", "tsc"), "-p", folder],
    { encoding: "utf8" });
  assert.equal(tsc.stdout + tsc.stderr, "");
  assert.equal(tsc.status, 0);
});
