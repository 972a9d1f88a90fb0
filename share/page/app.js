// The share's page: the live screen, the state beside it and, with the control link, the
// panel's keys, the knob, the PC keyboard and touches. Nothing is fetched but this page's
// own socket; the token comes from the link's fragment and goes only over that socket.
'use strict';
(() => {
  const $ = (id) => document.getElementById(id);
  const screen = $('screen');
  const frame = $('frame');
  const overlay = $('overlay');
  const notice = $('notice');
  const token = location.hash.slice(1);

  let status = { link: 'down', streaming: false, touches: false, model: '', attempt: 0 };
  let control = false;
  let screenSize = [800, 600];
  let keyboard = {};
  const buttons = new Map();
  const held = new Set();
  const arrivals = [];  // times of the frames of the last 5 s
  let lastFrameAt = 0;   // page time of the last frame, minus its age at the share
  let shownUrl = '';
  let ended = false;
  let noticeTimer = 0;

  const ws = new WebSocket(`${location.protocol === 'https:' ? 'wss:' : 'ws:'}//${location.host}/ws`);
  ws.binaryType = 'arraybuffer';
  const send = (o) => { if (ws.readyState === WebSocket.OPEN) ws.send(JSON.stringify(o)); };

  ws.onopen = () => send({ t: 'hello', token });
  ws.onmessage = (e) => {
    if (typeof e.data === 'string') {
      let m;
      try { m = JSON.parse(e.data); } catch (_) { return; }
      onMessage(m);
    } else {
      onFrame(e.data);
    }
  };
  ws.onclose = (e) => {
    ended = true;
    const why = e.reason || (e.code === 1006 ? 'The share cannot be reached.' : 'The share ended.');
    showState(why);
    overlay.textContent = why;
    overlay.hidden = false;
    frame.classList.add('lost');
    enableKeys();
  };

  function say(text) {
    notice.textContent = text;
    clearTimeout(noticeTimer);
    noticeTimer = setTimeout(() => { notice.textContent = ''; }, 4000);
  }

  function showState(text) { $('state').textContent = text; }

  function onMessage(m) {
    switch (m.t) {
      case 'welcome':
        control = !!m.control;
        if (Array.isArray(m.screen)) screenSize = m.screen;
        if (control) buildPanel(m.keys || [], m.keyboard || {});
        onStatus(m.status || status);
        break;
      case 'status':
        onStatus(m);
        break;
      case 'refused':
      case 'error':
        say(m.why || 'Refused.');
        break;
    }
  }

  function onStatus(s) {
    status = s;
    $('model').textContent = s.model ? `QVRemote · ${s.model}` : 'QVRemote';
    document.title = s.model ? `${s.model} — QVRemote share` : 'QVRemote share';
    let text = 'Disconnected';
    overlay.hidden = true;
    frame.classList.remove('lost');
    if (s.link === 'healing') {
      text = `Link lost — reconnecting (attempt ${s.attempt})`;
      overlay.textContent = text;
      overlay.hidden = false;
      frame.classList.add('lost');
    } else if (s.link === 'up') {
      text = s.streaming ? 'Connected · Remote Control Started' : 'Connected · Remote Control Stopped';
    }
    showState(control ? text : `${text} · view only`);
    screen.classList.toggle('touch', control && s.touches);
    enableKeys();
  }

  function onFrame(buffer) {
    if (buffer.byteLength <= 8) return;
    const head = new DataView(buffer, 0, 8);
    const age = head.getUint32(4);
    const url = URL.createObjectURL(new Blob([new Uint8Array(buffer, 8)], { type: 'image/jpeg' }));
    const now = performance.now();
    lastFrameAt = now - age;
    arrivals.push(now);
    const next = new Image();
    next.src = url;
    next.decode().catch(() => {}).then(() => {
      const old = shownUrl;
      shownUrl = url;
      screen.src = url;
      if (old) URL.revokeObjectURL(old);
      send({ t: 'ack' });
    });
  }

  function tickRate() {
    const now = performance.now();
    while (arrivals.length && now - arrivals[0] > 5000) arrivals.shift();
    // Over the last 5 s, or over what there is of it so far.
    const span = arrivals.length > 1 ? (arrivals[arrivals.length - 1] - arrivals[0]) / 1000 : 0;
    const fps = span > 0 ? (arrivals.length - 1) / span : 0;
    const age = lastFrameAt ? (now - lastFrameAt) / 1000 : -1;
    $('rate').textContent = age < 0 ? '' : `${fps.toFixed(1)} fps · ${age.toFixed(1)} s`;
    const stale = !ended && status.streaming && status.link === 'up' && age > 3;
    frame.classList.toggle('stale', stale);
  }
  setInterval(tickRate, 250);

  function buildPanel(keys, codes) {
    keyboard = codes;
    const box = $('keys');
    box.textContent = '';
    buttons.clear();
    for (const k of keys) {
      const b = document.createElement('button');
      b.type = 'button';
      b.dataset.id = String(k.id);
      // A long legend breaks after its slash, never inside a word.
      b.append((k.label || String(k.id)).replace(/\//g, '/\u200b'));
      if (k.second) {
        const s = document.createElement('small');
        s.textContent = k.second;
        b.append(s);
      }
      b.addEventListener('click', () => press({ t: 'key', id: k.id }));
      box.append(b);
      buttons.set(k.id, b);
    }
    $('knob-left').addEventListener('click', () => press({ t: 'knob', dir: -1 }));
    $('knob-right').addEventListener('click', () => press({ t: 'knob', dir: 1 }));
    $('panel').hidden = false;
  }

  const live = () => control && !ended && status.streaming && status.link === 'up';

  function enableKeys() {
    const on = live();
    for (const b of document.querySelectorAll('#panel button')) b.disabled = !on;
  }

  function press(m) {
    if (live()) send(m);
  }

  screen.addEventListener('click', (e) => {
    if (!live() || !status.touches || !screen.clientWidth) return;
    const x = Math.floor((e.offsetX * screenSize[0]) / screen.clientWidth);
    const y = Math.floor((e.offsetY * screenSize[1]) / screen.clientHeight);
    if (x >= 0 && y >= 0 && x < screenSize[0] && y < screenSize[1]) press({ t: 'touch', x, y });
  });

  let wheel = 0;
  const onWheel = (e) => {
    if (!live()) return;
    e.preventDefault();
    wheel += e.deltaMode === 0 ? e.deltaY / 100 : e.deltaY / 3;
    while (Math.abs(wheel) >= 1) {
      const dir = wheel < 0 ? 1 : -1;
      wheel += dir;
      press({ t: 'knob', dir });
    }
  };
  $('knob').addEventListener('wheel', onWheel, { passive: false });
  screen.addEventListener('wheel', onWheel, { passive: false });

  // By key identity, as the window maps them: shown pressed while down, sent once on release.
  document.addEventListener('keydown', (e) => {
    if (!live() || e.altKey || e.ctrlKey || e.metaKey) return;
    const id = keyboard[e.code];
    if (id === undefined) return;
    e.preventDefault();
    held.add(e.code);
    const b = buttons.get(id);
    if (b) b.classList.add('held');
  });
  document.addEventListener('keyup', (e) => {
    const id = keyboard[e.code];
    if (id === undefined || !held.delete(e.code)) return;
    e.preventDefault();
    const b = buttons.get(id);
    if (b) b.classList.remove('held');
    press({ t: 'key', id });
  });
})();
