// The dashboard's servers, refreshed in place every two seconds from
// /api/servers: status, track, session and the number of drivers.
const table = document.getElementById("servers");

function show(server) {
  const row = table.querySelector(`tr[data-key="${CSS.escape(server.key)}"]`);
  if (!row) return;
  const status = row.querySelector(".status");
  status.textContent = server.status;
  status.className = "status " + server.status;
  row.querySelector(".name").textContent = server.name;
  row.querySelector(".track").textContent = server.track ?? "";
  row.querySelector(".session").textContent = server.session ?? "";
  row.querySelector(".drivers").textContent = String(server.drivers);
}

async function refresh() {
  try {
    const response = await fetch("/api/servers", { cache: "no-store" });
    if (response.ok) for (const server of await response.json()) show(server);
  } catch (e) {
    // The hub is restarting or the network is down: try again later.
  }
  setTimeout(refresh, 2000);
}

if (table) setTimeout(refresh, 2000);
