// The main and accounts views of the sample web application. The plugin opens
// both through this page: "url" names the view, "ow" how to reach OBS.
(() => {
  const { HostConnection, pageParams, escapeHtml } = window.ZorvaSample;
  const params = pageParams();
  const accountsView = new URL(params.target || location.href, location.href).pathname.endsWith("/accounts");
  const view = document.getElementById("view");
  const host = new HostConnection(params.ow);
  let status = {};

  document.getElementById("title").textContent = accountsView ? "Zorva accounts" : "Zorva";
  document.getElementById("versions").textContent = `OBS ${params.obsVersion} · plugin ${params.pluginVersion}`;

  view.innerHTML = `
    <section><h2>Host</h2>
      <div class="row"><span class="dot" id="linkDot"></span><span id="linkText" class="grow">connecting to obs-websocket…</span></div>
      <div class="row"><span class="dim">Access token</span><code id="token" class="grow"></code></div>
    </section>
    <section><h2>Vorn account</h2>
      <div class="row"><span id="account" class="grow">…</span></div>
      <div><button id="login">Sign in</button><button id="refresh" class="secondary">Refresh</button><button id="logout" class="secondary">Sign out</button></div>
    </section>
    ${accountsView ? `
    <section><h2>Platform accounts</h2><div id="platforms"></div>
      <div>${["TWITCH", "YOUTUBE", "KICK", "TIKTOK"].map((p) => `<button class="secondary" data-link="${p}">Link ${p[0] + p.slice(1).toLowerCase()}</button>`).join("")}</div>
    </section>` : `
    <section><h2>Simulate events</h2>
      <div>${["chat", "follow", "raid", "subscribe"].map((t) => `<button class="secondary" data-simulate="${t}">${t}</button>`).join("")}</div>
    </section>
    <section><h2>Host bootstrap</h2><pre id="log"></pre></section>`}
  `;

  const $ = (id) => document.getElementById(id);
  const log = (text) => { const l = $("log"); if (l) l.textContent = `${text}\n${l.textContent}`.slice(0, 6000); };

  function showToken() {
    const token = window.__vornAccessToken || "";
    $("token").textContent = token ? `${token.slice(0, 18)}…` : "(signed out)";
  }
  window.addEventListener("vornAccessTokenChanged", showToken);
  showToken();

  function render() {
    const account = status.account || {};
    $("account").innerHTML = account.authenticated
      ? `Signed in as <b>${escapeHtml(account.displayName || account.email)}</b> <span class="dim">${escapeHtml(account.email || "")}</span>`
      : `<span class="dim">Not signed in</span>`;
    $("login").disabled = !!account.authenticated;
    $("logout").disabled = !account.authenticated;
    if (!accountsView) return;
    const entries = Object.entries(status.integrations || {});
    $("platforms").innerHTML = entries.length ? entries.map(([id, a]) => `
      <div class="row"><span class="dot ${a.authenticated ? "on" : ""}"></span>
        <span class="grow"><b>${escapeHtml(a.platform)}</b> ${escapeHtml(a.username || a.state || "")}</span>
        ${a.upid ? `<button class="secondary" data-unlink="${escapeHtml(a.upid)}">Unlink</button>` : ""}</div>`).join("")
      : `<div class="dim">No platform linked yet.</div>`;
  }

  async function run(method, params = {}) {
    try {
      const result = await host.call(method, params);
      log(`${method} → ${redacted(result).slice(0, 400)}`);
      return result;
    } catch (error) {
      log(`${method} failed: ${error.code || ""} ${error.message}`);
      return null;
    }
  }

  // Secrets stay off the screen: tokens and the obs-websocket password.
  function redacted(value) {
    return JSON.stringify(value, (key, v) => {
      if (["sessionToken", "accessToken", "password"].includes(key) && v) return "•••";
      if (typeof v === "string") return v.replace(/token=[^&]+/, "token=•••");
      return v;
    }, 1);
  }

  async function reload() {
    const result = await run("zorva.status");
    if (!result) return;
    status = result;
    render();
    log(`hostBootstrap: ${redacted(result.hostBootstrap)}`);
  }

  host.onState = (connected, text) => {
    $("linkDot").classList.toggle("on", connected);
    $("linkText").textContent = text;
    if (connected) reload();
  };
  host.onEvent = (message) => {
    if (message.method !== "zorva.statusChanged") return;
    status = message.params || {};
    render();
  };

  view.addEventListener("click", (event) => {
    const button = event.target.closest("button");
    if (!button) return;
    if (button.id === "login") run("authenticate");
    else if (button.id === "logout") run("accounts.logout");
    else if (button.id === "refresh") run("accounts.refresh");
    else if (button.dataset.simulate) run("simulateEvent", { type: button.dataset.simulate, platform: "twitch" });
    else if (button.dataset.link) run("accounts.beginLogin", { platform: button.dataset.link });
    else if (button.dataset.unlink) run("vek.logout", { upid: button.dataset.unlink });
  });

  host.connect();
})();
