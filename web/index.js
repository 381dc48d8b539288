// The client of kov-bridge; it runs in a browser and in Node alike. The status element,
// which needs a DOM, is in "./element.js".
export { KovBridge } from "./src/KovBridge.js";
export { KovBridgeError } from "./src/KovBridgeError.js";
export { EventStreamParser } from "./src/EventStreamParser.js";
