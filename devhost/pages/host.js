// A small obs-websocket 5 client for the sample pages: connects with the
// details the plugin put into the page address ("ow"), identifies (with the
// SHA-256 challenge when a password is set) and calls the plugin's host
// methods as vendor requests. Vendor events arrive through onEvent.
(() => {
  async function sha256Base64(text) {
    const digest = await crypto.subtle.digest("SHA-256", new TextEncoder().encode(text));
    return btoa(String.fromCharCode(...new Uint8Array(digest)));
  }

  function pageParams() {
    const query = new URLSearchParams(location.search);
    let ow = {};
    try { ow = JSON.parse(query.get("ow") || "{}"); } catch (e) { ow = {}; }
    return { target: query.get("url") || "", ow, obsVersion: query.get("ov") || "", pluginVersion: query.get("pv") || "" };
  }

  class HostConnection {
    constructor(ow) {
      this.ow = ow;
      this.pending = new Map();
      this.nextId = 1;
      this.onEvent = () => {};
      this.onState = () => {};
    }

    connect() {
      if (!this.ow.en) {
        this.onState(false, this.ow.e || "obs-websocket is not enabled.");
        return;
      }
      const url = `${this.ow.s ? "wss" : "ws"}://${this.ow.h || "127.0.0.1"}:${this.ow.p || 4455}`;
      const socket = new WebSocket(url, "obswebsocket.json");
      this.socket = socket;
      socket.onmessage = (message) => this.receive(JSON.parse(message.data));
      socket.onclose = (close) => {
        this.onState(false, `obs-websocket closed (${close.code}); retrying`);
        for (const { reject } of this.pending.values()) reject(new Error("connection closed"));
        this.pending.clear();
        setTimeout(() => this.connect(), 3000);
      };
    }

    async receive({ op, d }) {
      if (op === 0) {
        const identify = { rpcVersion: 1, eventSubscriptions: 1 << 9 };
        if (d.authentication) {
          const secret = await sha256Base64((this.ow.pw || "") + d.authentication.salt);
          identify.authentication = await sha256Base64(secret + d.authentication.challenge);
        }
        this.socket.send(JSON.stringify({ op: 1, d: identify }));
      } else if (op === 2) {
        this.onState(true, `connected to ${this.ow.h}:${this.ow.p}`);
      } else if (op === 5 && d.eventType === "VendorEvent" && d.eventData.vendorName === this.ow.vn) {
        this.onEvent(d.eventData.eventData || {});
      } else if (op === 7) {
        const waiter = this.pending.get(d.requestId);
        if (!waiter) return;
        this.pending.delete(d.requestId);
        if (!d.requestStatus.result) waiter.reject(new Error(d.requestStatus.comment || `status ${d.requestStatus.code}`));
        else waiter.resolve(d.responseData.responseData || {});
      }
    }

    // Calls a host method; resolves with its result, rejects with its error.
    call(method, params = {}) {
      return new Promise((resolve, reject) => {
        if (!this.socket || this.socket.readyState !== WebSocket.OPEN) return reject(new Error("not connected"));
        const requestId = String(this.nextId++);
        this.pending.set(requestId, {
          resolve: (data) => data.__vendorError ? reject(Object.assign(new Error(data.error), { code: data.errorCode })) : resolve(data),
          reject,
        });
        this.socket.send(JSON.stringify({ op: 6, d: { requestType: "CallVendorRequest", requestId, requestData: {
          vendorName: this.ow.vn, requestType: this.ow.vr, requestData: { id: requestId, method, params } } } }));
      });
    }
  }

  function escapeHtml(text) {
    return String(text).replace(/[&<>"']/g, (c) => ({ "&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;", "'": "&#39;" }[c]));
  }

  window.ZorvaSample = { HostConnection, pageParams, escapeHtml };
})();
