// The ids of this process's children (Chromium among them), read from /proc, so that a test
// can stop them by id even when the driving script does not get to close the browser.
"use strict";

const fs = require("fs");

function childPids() {
  const pids = [];
  for (const entry of fs.readdirSync("/proc")) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const stat = fs.readFileSync("/proc/" + entry + "/stat", "utf8");
      const ppid = Number(stat.slice(stat.lastIndexOf(")") + 2).split(" ")[1]);
      if (ppid === process.pid) pids.push(Number(entry));
    } catch (e) {
      // The process ended meanwhile.
    }
  }
  return pids;
}

module.exports = { childPids };
