// The leaderboard page, live: the rows in view are fetched again when the event stream says
// that their ranks changed, and put in place of the old ones, with the summary, the caption and
// the pages; the reader's page, search and scroll stay as they are. The page works without
// this script: it only keeps the page current.
"use strict";
(() => {
  const table = document.getElementById("ranking");
  const live = document.getElementById("live");
  if (!table || !window.EventSource || !window.DOMParser) return;

  let fetching = false;
  let again = false;

  // The page as the server makes it now, its changed parts taken into this one.
  async function refresh() {
    if (fetching) {
      again = true;
      return;
    }
    fetching = true;
    try {
      const response = await fetch(window.location.href, { cache: "no-cache" });
      if (response.status === 404) {
        showLastPage(await response.text());
      } else if (response.ok) {
        const fresh = new DOMParser().parseFromString(await response.text(), "text/html");
        for (const id of ["summary", "note", "since"]) {
          const now = fresh.getElementById(id);
          const shown = document.getElementById(id);
          if (now && shown) shown.replaceWith(document.adoptNode(now));
        }
        const rows = fresh.getElementById("ranking");
        if (rows) {
          // A copy first: adopting a node takes it out of the live list it was in.
          const nodes = Array.from(rows.childNodes);
          table.replaceChildren(...nodes.map((node) => document.adoptNode(node)));
          for (const name of ["generation", "first", "last", "search"])
            table.dataset[name] = rows.dataset[name];
        }
        const pages = fresh.getElementById("pages");
        const shownPages = document.getElementById("pages");
        if (pages && shownPages) shownPages.replaceWith(document.adoptNode(pages));
        else if (pages) table.after(document.adoptNode(pages));
        else if (shownPages) shownPages.remove();
      }
    } catch (error) {
      // Fetched again at the next event.
    } finally {
      fetching = false;
      if (again) {
        again = false;
        refresh();
      }
    }
  }

  // The page in view no longer exists (its rows went): it says so, and shows the last page
  // there is, whose address takes its place, as the server's answer for the missing one says.
  function showLastPage(text) {
    const missing = new DOMParser().parseFromString(text, "text/html").getElementById("ranking");
    const last = missing ? Number(missing.dataset.pages) : 0;
    const vanished = document.getElementById("vanished");
    if (!last || !vanished) return;
    const address = new URL(window.location.href);
    const gone = address.searchParams.get("page");
    if (last > 1) address.searchParams.set("page", String(last));
    else address.searchParams.delete("page");
    window.history.replaceState(window.history.state, "", address);
    vanished.textContent =
      `Page ${gone} is gone: its rows no longer exist. ` +
      (last > 1 ? `The last page, ${last}, is shown.` : "The first page is shown.");
    vanished.hidden = false;
    again = true; // the last page, fetched when this fetch ends
  }

  // Whether a change touched the ranks in view: [first, last] ranges, last null for "to the
  // end". A search's rows may come and go with any change.
  function touchesView(ranks) {
    if (table.dataset.search) return true;
    const first = Number(table.dataset.first);
    const last = Number(table.dataset.last);
    if (!first) return true;
    return ranks.some(([from, to]) => from <= last && (to === null || to >= first));
  }

  // The stream is closed while the page is hidden away (left for another, kept in the
  // back/forward cache, frozen): a browser gives a host six connections, and pages kept with
  // their streams open would take them all. It is opened again, once, when the page is shown,
  // and the view fetched again for what changed meanwhile.
  let events = null;

  function listen() {
    if (events) return;
    events = new EventSource("events");
    events.addEventListener("change", (event) => {
      let change = {};
      try {
        change = JSON.parse(event.data);
      } catch (error) {
        // An event not understood: the view is fetched again.
      }
      if (!Array.isArray(change.ranks) || touchesView(change.ranks)) refresh();
    });
    events.addEventListener("reload", () => refresh());
    // Said first on each connection: the generation the server serves now. A page made from
    // another (before a restart, or before changes it did not hear of) fetches its view again.
    events.addEventListener("serving", (event) => {
      let serving = {};
      try {
        serving = JSON.parse(event.data);
      } catch (error) {
        // Not understood: fetched again, to be sure.
      }
      if (serving.generation !== table.dataset.generation) refresh();
    });
    events.addEventListener("open", () => {
      live.hidden = true;
    });
    events.addEventListener("error", () => {
      // The browser tries again on its own; the note is shown once, not at each try.
      if (live.hidden) live.hidden = false;
    });
  }

  function stopListening() {
    if (!events) return;
    events.close();
    events = null;
  }

  function shown() {
    if (events || document.visibilityState === "hidden") return;
    listen();
    refresh();
  }

  window.addEventListener("pagehide", stopListening);
  document.addEventListener("freeze", stopListening);
  window.addEventListener("pageshow", shown);
  document.addEventListener("visibilitychange", shown);
  document.addEventListener("resume", shown);
  listen();
})();
