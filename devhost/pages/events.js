// Reads live events from the plugin's event proxy, whose address the plugin
// puts into the page address as "vornurl". Reconnects when it drops.
(() => {
  // The connection state in the page's "dot" and "state" elements.
  function showState(live, text) {
    document.getElementById("dot").classList.toggle("on", live);
    document.getElementById("state").textContent = text;
  }

  function connectEvents(onEvent, onState = showState) {
    const url = new URLSearchParams(location.search).get("vornurl");
    if (!url) {
      onState(false, "no event proxy address (vornurl) in the page address");
      return;
    }
    const socket = new WebSocket(url);
    socket.onopen = () => {
      onState(true, "live");
      socket.send(JSON.stringify({ payload: { type: "X_INIT" } }));
    };
    socket.onmessage = (message) => {
      let event;
      try { event = JSON.parse(message.data); } catch (e) { return; }
      if (event.event_type === "X_HISTORY") {
        for (const perAccount of event.data || []) for (const past of perAccount) onEvent(past, true);
        // Events published from now on arrive once, live; earlier ones came with the history.
        document.documentElement.dataset.history = "received";
      } else {
        onEvent(event, false);
      }
    };
    socket.onclose = () => {
      onState(false, "reconnecting…");
      setTimeout(() => connectEvents(onEvent, onState), 2000);
    };
  }
  window.ZorvaEvents = { connectEvents };
})();
