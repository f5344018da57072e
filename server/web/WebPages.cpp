// The web pages the agent's workspace window shows: "/app" (the notes) and "/settings"
// (permissions, projects, milestones). They use the session the agent hands over in session
// storage when there is one, and otherwise sign in by themselves with a one-time code.
#include <algorithm>

#include "server/http/Http.h"
#include "server/http/Service.h"

namespace larkspire::server {
namespace {

// Shared by both pages: styles, session handling, sign-in form and the API helper.
constexpr const char* kHead = R"HTML(<!doctype html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Larkspire</title>
<style>
body{font:15px/1.45 system-ui,sans-serif;margin:0;background:#f6f5f2;color:#222}
header{display:flex;gap:1.2em;align-items:center;padding:.8em 1.4em;background:#2d3a4a;color:#fff}
header a{color:#cfe0ff;text-decoration:none}header a.here{color:#fff;font-weight:600}
header .who{margin-left:auto;font-size:.9em;opacity:.85}
main{max-width:920px;margin:1.4em auto;padding:0 1em}
.card{background:#fff;border:1px solid #ddd;border-radius:8px;padding:1em;margin:0 0 1em}
.card.archived{opacity:.6}
.meta{color:#666;font-size:.85em}
input[type=text],input[type=email],select{padding:.35em;border:1px solid #bbb;border-radius:4px}
button{padding:.35em .8em;border-radius:4px;border:1px solid #789;background:#eef3f8;cursor:pointer}
.row{display:flex;gap:.5em;align-items:center;flex-wrap:wrap;margin:.4em 0}
.error{color:#a00}.ok{color:#070}[hidden]{display:none!important}
table{border-collapse:collapse}td,th{padding:.35em .8em;border-bottom:1px solid #eee;text-align:left}
</style></head><body>
<header><a href="https://larkspire.example/help" id="help">Help</a><strong>Larkspire</strong><a href="/app" id="nav-app">Notes</a>
<a href="/settings" id="nav-settings">Settings</a><span class="who" id="who"></span>
<button id="signout" hidden>Sign out</button></header>
<main><div id="status" class="error"></div>
<section id="signin" class="card" hidden>
<h2>Sign in</h2>
<form id="email-form" class="row"><input type="email" id="email" placeholder="you@example.com" required>
<button>Send code</button></form>
<form id="code-form" class="row" hidden><input type="text" id="code" inputmode="numeric"
 pattern="[0-9]{6}" placeholder="6-digit code" required><button>Sign in</button></form>
<p class="meta" id="signin-note"></p>
</section>
<section id="content" hidden></section></main>
<script>
const HANDOVER_KEY = 'larkspire.native-session';
const OWN_KEY = 'larkspire.web-session';
const $ = (id) => document.getElementById(id);
function el(tag, props, ...children) {
  const e = document.createElement(tag);
  Object.assign(e, props || {});
  for (const c of children) e.append(c);
  return e;
}
function setStatus(text, ok) { $('status').textContent = text || ''; $('status').className = ok ? 'ok' : 'error'; }

// A handed-over session belongs to the agent: the page uses its access token but never
// refreshes it, because rotating the agent's refresh token would sign the agent out.
function currentSession() {
  const handed = sessionStorage.getItem(HANDOVER_KEY);
  if (handed) {
    try {
      const s = JSON.parse(handed);
      if (typeof s.access_token === 'string') return {accessToken: s.access_token, handedOver: true};
    } catch (e) {}
  }
  const own = localStorage.getItem(OWN_KEY);
  if (own) { try { return JSON.parse(own); } catch (e) { localStorage.removeItem(OWN_KEY); } }
  return null;
}
function saveOwn(s) { localStorage.setItem(OWN_KEY, JSON.stringify(
  {accessToken: s.accessToken, refreshToken: s.refreshToken, expiresAt: s.expiresAt, email: s.email})); }
function signOut() { localStorage.removeItem(OWN_KEY); sessionStorage.removeItem(HANDOVER_KEY); location.reload(); }

async function refreshOwn(s) {
  const r = await fetch('/api/native-auth/refresh', {method: 'POST',
    headers: {'Content-Type': 'application/json'}, body: JSON.stringify({refreshToken: s.refreshToken})});
  if (r.status !== 200) return null;
  const fresh = await r.json();
  fresh.email = s.email;
  saveOwn(fresh);
  return fresh;
}

class SignInNeeded extends Error {}
async function api(method, path, body) {
  let s = currentSession();
  if (!s) throw new SignInNeeded();
  if (!s.handedOver && s.expiresAt && s.expiresAt * 1000 < Date.now() + 60000) s = await refreshOwn(s) || s;
  const send = (token) => fetch(path, {method, headers: Object.assign({'Authorization': 'Bearer ' + token},
    body === undefined ? {} : {'Content-Type': 'application/json'}),
    body: body === undefined ? undefined : JSON.stringify(body)});
  let r = await send(s.accessToken);
  if (r.status === 401 && !s.handedOver) {
    const fresh = await refreshOwn(s);
    if (fresh) r = await send(fresh.accessToken);
  }
  if (r.status === 401) {
    if (s.handedOver) sessionStorage.removeItem(HANDOVER_KEY); else localStorage.removeItem(OWN_KEY);
    throw new SignInNeeded();
  }
  const data = await r.json().catch(() => ({}));
  if (r.status !== 200) throw new Error(typeof data.error === 'string' ? data.error : 'HTTP ' + r.status);
  return data;
}

// Tells the service what the page shows, for its log (the end-to-end tests read it there).
function shown() {
  fetch('/api/page-view', {method: 'POST', headers: {'Content-Type': 'application/json'},
    body: JSON.stringify({path: location.pathname, who: $('who').textContent})}).catch(() => {});
}
function showSignIn() {
  $('content').hidden = true; $('signin').hidden = false; $('signout').hidden = true; $('who').textContent = '';
  shown();
  let email = '';
  $('email-form').onsubmit = async (ev) => {
    ev.preventDefault(); email = $('email').value;
    const r = await fetch('/api/native-auth/request', {method: 'POST',
      headers: {'Content-Type': 'application/json'}, body: JSON.stringify({email})});
    const data = await r.json().catch(() => ({}));
    if (r.status !== 200) { setStatus(data.error || 'Couldn’t send sign-in code'); return; }
    setStatus('');
    $('code-form').hidden = false;
    $('signin-note').textContent = 'A code was sent to ' + email + ' (see the service outbox).';
  };
  $('code-form').onsubmit = async (ev) => {
    ev.preventDefault();
    const r = await fetch('/api/native-auth/verify', {method: 'POST',
      headers: {'Content-Type': 'application/json'}, body: JSON.stringify({email, code: $('code').value})});
    const data = await r.json().catch(() => ({}));
    if (r.status !== 200 || typeof data.accessToken !== 'string') {
      setStatus(data.error || 'Invalid or expired code'); return;
    }
    data.email = email; saveOwn(data); setStatus(''); start();
  };
}

async function start() {
  $('signout').onclick = signOut;
  try {
    const s = currentSession();
    if (!s) { showSignIn(); return; }
    $('signin').hidden = true; $('content').hidden = false; $('signout').hidden = false;
    const me = await api('GET', '/api/me');
    $('who').textContent = 'Signed in as ' + (me.user.email || s.email || 'you') +
      (s.handedOver ? ' (through the Larkspire agent)' : '');
    await render($('content'));
    shown();
  } catch (e) {
    if (e instanceof SignInNeeded) showSignIn(); else setStatus(e.message);
  }
}
</script>
)HTML";

constexpr const char* kAppPage = R"HTML(<script>
$('nav-app').className = 'here';
let showArchived = false;
async function render(root) {
  const data = await api('GET', '/api/notes?full=1');
  const notes = data.notes.slice().reverse();
  root.replaceChildren();
  const toggle = el('input', {type: 'checkbox', checked: showArchived,
    onchange: () => { showArchived = toggle.checked; start(); }});
  root.append(el('div', {className: 'row'}, el('h2', {textContent: 'Notes'}),
    el('label', {}, toggle, ' show archived')));
  const visible = notes.filter((n) => showArchived || typeof n.archived_at !== 'string');
  if (visible.length === 0) root.append(el('p', {className: 'meta', textContent: 'No notes yet. Dictate with the agent and they appear here.'}));
  for (const n of visible) root.append(noteCard(n, notes));
}
function noteCard(n, all) {
  const archived = typeof n.archived_at === 'string';
  const card = el('article', {className: 'card' + (archived ? ' archived' : ''), id: 'note-' + n.id});
  const title = el('input', {type: 'text', value: n.title, size: 50, ariaLabel: 'Title'});
  const tags = el('input', {type: 'text', value: (n.tags || []).join(', '), placeholder: 'tags, comma separated'});
  const project = el('input', {type: 'text', value: n.project || '', placeholder: 'project'});
  const save = el('button', {textContent: 'Save', onclick: () => change(n.id, {title: title.value,
    tags: tags.value.split(',').map((t) => t.trim()).filter((t) => t), project: project.value || null})});
  const archive = el('button', {textContent: archived ? 'Restore' : 'Archive',
    onclick: () => change(n.id, {archived: !archived})});
  card.append(el('div', {className: 'row'}, title, save, archive));
  card.append(el('div', {className: 'meta', textContent: new Date(n.created_at).toLocaleString() +
    ' · ' + n.source + (n.duration_secs ? ' · ' + n.duration_secs + ' s' : '') + (archived ? ' · archived' : '')}));
  card.append(el('p', {textContent: typeof n.cleaned_text === 'string' ? n.cleaned_text : n.text}));
  if (typeof n.cleaned_text === 'string' && n.cleaned_text !== n.text)
    card.append(el('details', {}, el('summary', {textContent: 'Raw transcript'}), el('p', {textContent: n.text})));
  card.append(el('div', {className: 'row'}, 'Tags ', tags, ' Project ', project));
  const related = el('div', {className: 'row'}, 'Related: ');
  for (const r of n.related || []) {
    related.append(el('a', {href: '#note-' + r.id, textContent: r.title || 'Note'}),
      el('button', {textContent: '×', title: 'Remove relation',
        onclick: () => call('DELETE', '/api/notes/' + n.id + '/related/' + r.id)}));
  }
  const choose = el('select', {}, el('option', {value: '', textContent: 'Relate to…'}));
  for (const o of all) if (o.id !== n.id && !(n.related || []).some((r) => r.id === o.id))
    choose.append(el('option', {value: o.id, textContent: o.title || o.created_at}));
  choose.onchange = () => { if (choose.value) call('POST', '/api/notes/' + n.id + '/related', {id: choose.value}); };
  related.append(choose);
  card.append(related);
  return card;
}
async function call(method, path, body) {
  try { await api(method, path, body); setStatus('Saved', true); await start(); }
  catch (e) { if (e instanceof SignInNeeded) showSignIn(); else setStatus(e.message); }
}
function change(id, fields) { return call('PATCH', '/api/notes/' + id, fields); }
start();
</script></body></html>
)HTML";

constexpr const char* kSettingsPage = R"HTML(<script>
$('nav-settings').className = 'here';
const PANES = [
  ['microphone', 'Microphone', 'microphone'],
  ['accessibility', 'Accessibility', 'accessibility'],
  ['inputMonitoring', 'Input monitoring', 'input-monitoring'],
  ['screenRecording', 'Screen recording', 'screen-recording'],
];
async function render(root) {
  const [status, projects, me, engines, vocabulary] = await Promise.all([
    api('GET', '/api/native-status'), api('GET', '/api/projects'), api('GET', '/api/me'),
    api('GET', '/api/engines'), api('GET', '/api/vocabulary')]);
  root.replaceChildren();
  const perms = el('section', {className: 'card'}, el('h2', {textContent: 'Permissions'}));
  const latest = status.statuses[0];
  if (!latest) {
    perms.append(el('p', {className: 'meta', textContent: 'The agent has not reported its permissions yet.'}));
  } else {
    perms.append(el('p', {className: 'meta', textContent: 'Reported by ' + latest.platform + ' agent ' +
      latest.appVersion + ' at ' + new Date(latest.updatedAt).toLocaleString()}));
  }
  const table = el('table');
  for (const [key, label, path] of PANES) {
    const allowed = latest ? latest[key] === true : null;
    table.append(el('tr', {}, el('td', {textContent: label}),
      el('td', {className: allowed ? 'ok' : 'error', textContent: allowed === null ? 'unknown' : allowed ? 'Allowed' : 'Not allowed'}),
      el('td', {}, el('a', {href: 'larkspire://permissions/' + path + '/', textContent: 'Open ' + label + ' settings'}))));
  }
  perms.append(table);
  root.append(perms);

  const proj = el('section', {className: 'card'}, el('h2', {textContent: 'Projects'}));
  const list = el('ul');
  for (const p of projects.projects) list.append(el('li', {textContent: p.name}));
  if (projects.projects.length === 0) list.append(el('li', {className: 'meta', textContent: 'No projects yet.'}));
  const name = el('input', {type: 'text', placeholder: 'New project name'});
  const add = el('button', {textContent: 'Add project', onclick: async () => {
    try { await api('POST', '/api/projects', {name: name.value}); await start(); }
    catch (e) { setStatus(e.message); } }});
  proj.append(list, el('div', {className: 'row'}, name, add));
  root.append(proj);

  const words = el('section', {className: 'card', id: 'vocabulary'}, el('h2', {textContent: 'Vocabulary'}),
    el('p', {className: 'meta', textContent: 'Words and names you say often, spelled as they should be written.'}));
  const wordList = el('ul');
  for (const w of vocabulary.words) {
    wordList.append(el('li', {}, el('span', {textContent: w + ' '}), el('button', {textContent: 'Remove',
      title: 'Remove ' + w, onclick: async () => {
        try { await api('DELETE', '/api/vocabulary', {word: w}); await start(); }
        catch (e) { setStatus(e.message); } }})));
  }
  if (vocabulary.words.length === 0) wordList.append(el('li', {className: 'meta', textContent: 'No words yet.'}));
  const word = el('input', {type: 'text', placeholder: 'A word or name', maxLength: 100});
  const addWord = el('button', {textContent: 'Add word', onclick: async () => {
    try { await api('POST', '/api/vocabulary', {word: word.value}); await start(); }
    catch (e) { setStatus(e.message); } }});
  words.append(wordList, el('div', {className: 'row'}, word, addWord));
  root.append(words);

  const engineCard = el('section', {className: 'card', id: 'engines'}, el('h2', {textContent: 'Engines'}));
  const engineTable = el('table');
  for (const e of engines.engines) {
    engineTable.append(el('tr', {}, el('td', {textContent: e.task}),
      el('td', {textContent: e.engine + (e.model ? ' · ' + e.model : '')}),
      el('td', {className: 'meta', textContent: e.url})));
  }
  engineCard.append(engineTable);
  root.append(engineCard);

  const steps = el('section', {className: 'card'}, el('h2', {textContent: 'Getting started'}));
  let stage = 'Not started';
  for (const [event, label] of [['signed_in', 'Signed in'], ['shortcut_ready', 'Shortcut ready'],
                                ['first_recording_started', 'First recording']]) {
    const done = me.activation.includes(event);
    if (done) stage = label;
    steps.append(el('div', {className: done ? 'ok' : 'meta', textContent: (done ? '✓ ' : '○ ') + label}));
  }
  steps.prepend(el('p', {id: 'stage', textContent: 'Onboarding stage: ' + stage}));
  root.append(steps);
}
start();
</script></body></html>
)HTML";

void sendPage(httplib::Response& res, const char* page) {
    res.set_header("Cache-Control", "no-store");
    res.set_content(std::string(kHead) + page, "text/html; charset=utf-8");
}

}  // namespace

void Service::registerWebRoutes() {
    server_.Get("/",
                [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/app"); });
    server_.Get("/app",
                [](const httplib::Request&, httplib::Response& res) { sendPage(res, kAppPage); });
    server_.Get("/settings", [](const httplib::Request&, httplib::Response& res) {
        sendPage(res, kSettingsPage);
    });
    // What a page shows, written to the request log.
    post("/api/page-view", [this](const httplib::Request& req, httplib::Response& res) {
        auto body = http::objectBody(req);
        const std::string* path = body ? http::stringMember(*body, "path") : nullptr;
        const std::string* who = body ? http::stringMember(*body, "who") : nullptr;
        if (path == nullptr || who == nullptr) {
            http::sendError(res, 400, "A page view needs a path and who");
            return;
        }
        // One line each, whatever the page sent.
        auto oneLine = [](std::string text) {
            std::replace_if(
                text.begin(), text.end(), [](unsigned char c) { return c < 0x20; }, ' ');
            return text;
        };
        log_.line("page-view " + oneLine(*path) + " who=\"" + oneLine(*who) + "\"");
        http::sendJson(res, 200, {{"ok", true}});
    });
}

}  // namespace larkspire::server
