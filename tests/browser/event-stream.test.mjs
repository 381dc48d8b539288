// The client's reading of the bridge's event stream, piece by piece as fetch hands it over.
import assert from "node:assert/strict";
import { test } from "node:test";

import { EventStreamParser } from "../../web/index.js";

// Each row: the stream in the pieces it arrives in, and the events read from it.
const rows = [
  { name: "keep-alive comment between events", pieces: [": keep-alive\n\nevent: screen\ndata: 1\n\n"],
    events: [{ type: "screen", data: "1" }] },
  { name: "line split across pieces", pieces: ["event: scr", "een\nda", "ta: {\"a\"", ":1}\n", "\n"],
    events: [{ type: "screen", data: '{"a":1}' }] },
  { name: "CR LF split between pieces", pieces: ["event: screen\r", "\ndata: 1\r", "\n\r", "\n"],
    events: [{ type: "screen", data: "1" }] },
  { name: "data lines joined by line feeds", pieces: ["data: a\ndata: b\n\n"],
    events: [{ type: "message", data: "a\nb" }] },
  { name: "no space after the colon", pieces: ["event:signature\ndata:x\n\n"],
    events: [{ type: "signature", data: "x" }] },
  { name: "event without data dropped", pieces: ["event: screen\n\n"], events: [] },
];

for (const { name, pieces, events } of rows) {
  test(name, () => {
    const parser = new EventStreamParser();
    assert.deepEqual(pieces.flatMap((piece) => parser.push(piece)), events);
  });
}
