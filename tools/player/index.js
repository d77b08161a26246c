// A study's index: one row a run the server found, with its state (waiting for data, live, ended,
// or failed, and why), its steps, the model time it has reached and how long ago its last record
// came, read from the server (GET runs) every second. A filter narrows the rows by a part of the
// name; each name opens the run's live page; the runs ticked open side by side in a comparison.
// Every name is text, whatever it holds.

function describeAge(age) {
  if (!(age >= 0)) return "\u2014";
  if (age < 60) return `${Math.round(age)} s ago`;
  if (age < 3600) return `${Math.round(age / 60)} min ago`;
  return `${Math.round(age / 3600)} h ago`;
}

function startIndex() {
  const root = document.querySelector(".index");
  const part = (name) => root.querySelector(`.${name}`);
  const [filter, compareButton, chosenText, body, status] =
    ["filter", "compare", "chosen", "runs tbody", "status"].map(part);
  const rows = new Map();  // by key: {row, cells, box}
  const chosen = new Set();  // keys
  let runs = [];  // as the server last said them
  let ready = false;

  function rowOf(run) {
    let row = rows.get(run.key);
    if (row) return row;
    const tr = body.appendChild(document.createElement("tr"));
    const cell = (className) => {
      const td = tr.appendChild(document.createElement("td"));
      td.className = className;
      return td;
    };
    const box = cell("choose").appendChild(document.createElement("input"));
    box.type = "checkbox";
    box.setAttribute("aria-label", "compare this run");
    box.addEventListener("change", () => {
      if (box.checked) chosen.add(run.key); else chosen.delete(run.key);
      update();
    });
    const link = cell("name").appendChild(document.createElement("a"));
    link.href = run.href;
    link.textContent = run.name;
    row = { tr, box, state: cell("state"), steps: cell("number"), time: cell("number"),
            age: cell("number") };
    rows.set(run.key, row);
    return row;
  }

  function update() {
    const wanted = filter.value.toLowerCase();
    for (const run of runs) {
      const row = rowOf(run);
      row.tr.hidden = wanted !== "" && !run.name.toLowerCase().includes(wanted);
      row.state.className = `state ${run.state}`;
      row.state.textContent = run.state;
      if (run.reason) {
        const why = row.state.appendChild(document.createElement("span"));
        why.className = "reason";
        why.textContent = run.reason;
      }
      row.steps.textContent = String(run.steps);
      row.time.textContent = run.time === null || run.steps === 0 ? "\u2014" : `${run.time} s`;
      row.age.textContent = describeAge(run.age);
      row.box.checked = chosen.has(run.key);
    }
    const count = chosen.size;
    compareButton.disabled = count < 2 || count > 6;
    chosenText.textContent = count === 0 ? "" : count < 2 ? "tick one more run to compare" :
      count > 6 ? "at most six runs at once" : `${count} runs ticked`;
  }

  function compare(names) {
    const keys = [];
    for (const name of names) {
      const run = runs.find((r) => r.name === name);
      if (!run) throw new Error(`no run named ${name}`);
      keys.push(run.key);
    }
    location.href = `compare?${keys.map((key) => `run=${key}`).join("&")}`;
  }
  compareButton.addEventListener("click", () => {
    location.href = `compare?${[...chosen].map((key) => `run=${key}`).join("&")}`;
  });
  filter.addEventListener("input", update);

  async function refresh() {
    try {
      const response = await fetch("runs", { cache: "no-store" });
      if (!response.ok) throw new Error(`the server answers ${response.status}`);
      runs = await response.json();
      update();
      ready = true;
      const live = runs.filter((run) => run.state === "live").length;
      status.textContent = `${plural(runs.length, "run", "runs")}, ${live} live.`;
    } catch (error) {
      status.textContent = `The server cannot be reached (${error.message}); trying again.`;
    }
  }
  refresh();
  setInterval(refresh, 1000);

  const api = Object.freeze(Object.defineProperties({}, {
    ready: { get: () => ready, enumerable: true },
    runs: {
      get: () => Object.freeze(runs.map(({ name, state, steps, time, href }) =>
        Object.freeze({ name, state, steps, time, href }))),
      enumerable: true,
    },
    compare: { value: compare },
  }));
  Object.defineProperty(window, "meshplay", { value: api, enumerable: true });
}
