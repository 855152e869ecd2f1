// zenpo-edit: the page around the C API of edit_api.h. It draws and handles
// input; reading, changing and writing the image's bytes and fonts happen in
// the WebAssembly module.
'use strict';

(() => {
  const $ = (id) => document.getElementById(id);
  const ROW = 34; // pixels of a row of 16 glyphs in the font's grid
  const MOST_SCROLL = 8e6; // a taller grid scrolls in proportion, as browsers cap heights
  const EDIT = { toggle: 0, set: 1, clear: 2 };
  const EXPORTS = { patch: [0, '.txt'], png: [1, '.png'], bdf: [2, '.bdf'], psf: [3, '.psf'], hex: [4, '.hex'] };

  let M = null; // the module
  let scratch = 0; // 8 bytes of its memory for a glyph handed over
  const page = {
    name: '', handle: null, size: 0, glyphs: 0, open: false,
    current: 0x41, anchor: null, cursor: { row: 0, bit: 6 },
    undo: [], redo: [], changed: new Set(), clipboard: null, drag: null,
  };

  // The module's memory as bytes (a new view after it grew).
  const heap = () => M.HEAPU8;

  // The 8 bytes of glyph `code` in the image, a view into the module's memory.
  const glyphBytes = (code) => heap().subarray(M._zp_image() + code * 8, M._zp_image() + code * 8 + 8);

  // The module's last message text.
  const message = () => M.UTF8ToString(M._zp_message()).trimEnd();

  // Calls `fn` with the strings as pointers into the module's memory.
  function withStrings(strings, fn) {
    const pointers = strings.map((s) => {
      const size = M.lengthBytesUTF8(s) + 1;
      const p = M._malloc(size);
      M.stringToUTF8(s, p, size);
      return p;
    });
    try { return fn(...pointers); } finally { pointers.forEach((p) => M._free(p)); }
  }

  // The status line (role status) and the error line (role alert).
  function status(text) { $('status').textContent = text; }
  function alertText(text) { $('alert').textContent = text; }

  // The code as the tools write it in a name: upper-case hexadecimal, at least two digits.
  const hex = (code, digits = 2) => code.toString(16).toUpperCase().padStart(digits, '0');

  // ---- Changes and their undo ------------------------------------------

  // The bytes of `codes`, copied out.
  function copyGlyphs(codes) {
    const out = new Uint8Array(codes.length * 8);
    codes.forEach((code, i) => out.set(glyphBytes(code), i * 8));
    return out;
  }

  // Writes `bytes` (8 a glyph) into `codes` through the module.
  function putGlyphs(codes, bytes) {
    codes.forEach((code, i) => {
      heap().set(bytes.subarray(i * 8, i * 8 + 8), scratch);
      M._zp_put_glyph(code, scratch);
    });
  }

  // Keeps the change of `codes` from `before` as one step of Undo; false
  // when nothing changed.
  function record(codes, before) {
    const after = copyGlyphs(codes);
    if (after.every((b, i) => b === before[i])) return false;
    page.undo.push({ codes, before, after });
    page.redo.length = 0;
    refresh(codes);
    return true;
  }

  // Changes `codes` by `fn` as one step of Undo.
  function change(codes, fn) {
    const before = copyGlyphs(codes);
    fn();
    return record(codes, before);
  }

  // Takes the last step off `from`, puts its `which` bytes back, and keeps it on `to`.
  function undoRedo(from, to, which) {
    const step = from.pop();
    if (!step) return;
    putGlyphs(step.codes, step[which]);
    to.push(step);
    refresh(step.codes);
    status(`${which === 'before' ? 'Undone' : 'Redone'}: ${describe(step.codes)}`);
  }

  // "glyph 0x41" or "3 glyphs", for the status line.
  const describe = (codes) => (codes.length === 1 ? `glyph 0x${hex(codes[0])}` : `${codes.length} glyphs`);

  // ---- Drawing ----------------------------------------------------------

  const pixelsOf = new ImageData(8, 8);

  // Draws glyph `code` into the 8x8 canvas `canvas`: bit 7 red in the first column.
  function drawGlyph(canvas, code) {
    const rows = glyphBytes(code);
    const d = pixelsOf.data;
    for (let r = 0; r < 8; r++) {
      for (let c = 0; c < 8; c++) {
        const on = (rows[r] >> (7 - c)) & 1;
        const rgb = c === 0 ? (on ? [208, 0, 0] : [255, 221, 221]) : on ? [0, 0, 0] : [255, 255, 255];
        d.set([...rgb, 255], (r * 8 + c) * 4);
      }
    }
    canvas.getContext('2d').putImageData(pixelsOf, 0, 0);
  }

  // True when glyph `code` differs from the image as opened or last saved.
  function differs(code) {
    const opened = M._zp_opened_glyph(code);
    if (!opened) return false;
    const now = glyphBytes(code);
    const then = heap().subarray(opened, opened + 8);
    return now.some((b, i) => b !== then[i]);
  }

  // After `codes` changed: the marks, the grid's cells on screen, the glyph and the sample.
  function refresh(codes) {
    for (const code of codes) {
      if (differs(code)) page.changed.add(code);
      else page.changed.delete(code);
    }
    for (const code of codes.length > 64 ? [] : codes) {
      const button = cellButton(code);
      if (button) drawCell(button, code);
    }
    if (codes.length > 64) drawRows(true);
    if (codes.includes(page.current)) drawEditor();
    drawSample();
    updateButtons();
  }

  // Enables the buttons that have something to do.
  function updateButtons() {
    $('undo').disabled = page.undo.length === 0;
    $('redo').disabled = page.redo.length === 0;
    $('save').disabled = !page.open || page.changed.size === 0;
    for (const id of ['import', 'export-patch', 'export-png', 'export-bdf', 'export-psf', 'export-hex'])
      $(id).disabled = !page.open;
  }

  // ---- The font's grid: only the rows on screen exist -------------------

  const pool = []; // rows of the grid on screen: {element, label, buttons, index}

  // Rows of 16 in the grid, the last one partly grey when the image ends inside it.
  function rowCount() { return Math.ceil(page.glyphs / 16); }

  // The first row on screen and the offset of the rows' block.
  function firstRow() {
    const s = $('scroller');
    const total = rowCount() * ROW;
    if (total <= MOST_SCROLL) return Math.floor(s.scrollTop / ROW);
    const range = MOST_SCROLL - s.clientHeight;
    return Math.floor((s.scrollTop / Math.max(range, 1)) * Math.max(rowCount() - Math.floor(s.clientHeight / ROW), 0));
  }

  // A new row of the grid's pool: its label and 16 glyph buttons.
  function makeRow() {
    const element = document.createElement('div');
    element.className = 'row';
    const label = document.createElement('span');
    label.className = 'label';
    label.setAttribute('aria-hidden', 'true');
    element.append(label);
    const buttons = [];
    for (let i = 0; i < 16; i++) {
      const b = document.createElement('button');
      b.className = 'glyph';
      const canvas = document.createElement('canvas');
      canvas.width = 8;
      canvas.height = 8;
      b.append(canvas);
      element.append(b);
      buttons.push(b);
    }
    $('rows').append(element);
    return { element, label, buttons, index: -1 };
  }

  // Draws the cell of `button` for `code`: a glyph, or grey past the image's slots.
  function drawCell(button, code) {
    button.dataset.code = code;
    const none = code >= page.glyphs;
    button.classList.toggle('none', none);
    button.disabled = none;
    if (none) {
      button.removeAttribute('aria-label');
      button.firstChild.getContext('2d').clearRect(0, 0, 8, 8);
      return;
    }
    button.setAttribute('aria-label', `Glyph ${hex(code)}`);
    button.classList.toggle('changed', page.changed.has(code));
    button.classList.toggle('current', code === page.current);
    button.classList.toggle('range', inRange(code));
    drawGlyph(button.firstChild, code);
  }

  // True when `code` lies in the range selected for Copy.
  function inRange(code) {
    if (page.anchor === null) return false;
    return code >= Math.min(page.anchor, page.current) && code <= Math.max(page.anchor, page.current);
  }

  // The grid's button of `code`, when it is on screen.
  function cellButton(code) {
    const row = pool.find((r) => r.index === Math.floor(code / 16));
    return row ? row.buttons[code % 16] : null;
  }

  // Lays out the rows on screen; `all` redraws those already in place too.
  function drawRows(all = false) {
    const s = $('scroller');
    const rows = rowCount();
    $('spacer').style.height = `${Math.min(rows * ROW, MOST_SCROLL)}px`;
    const first = firstRow();
    const shown = Math.min(Math.ceil(s.clientHeight / ROW) + 1, Math.max(rows - first, 0));
    while (pool.length < shown) pool.push(makeRow());
    const offset = rows * ROW <= MOST_SCROLL ? first * ROW : s.scrollTop;
    $('rows').style.top = `${offset}px`;
    pool.forEach((r, i) => {
      const index = first + i;
      r.element.hidden = i >= shown;
      if (i >= shown || (r.index === index && !all)) return;
      r.index = index;
      r.label.textContent = hex(index * 16, 2);
      r.buttons.forEach((b, c) => drawCell(b, index * 16 + c));
    });
  }

  // ---- The glyph being edited -------------------------------------------

  const pixels = []; // [row][column]: column 0 is bit 7, columns 1 to 7 bits 6 to 0

  // The 64 pixel checkboxes of the edited glyph, one in the tab order at a time.
  function makeEditor() {
    for (let r = 0; r < 8; r++) {
      pixels.push([]);
      for (let c = 0; c < 8; c++) {
        const p = document.createElement('div');
        p.className = c === 0 ? 'pixel high' : 'pixel';
        p.setAttribute('role', 'checkbox');
        p.setAttribute('aria-label', c === 0 ? `Row ${r + 1}, bit 7` : `Row ${r + 1}, column ${c}`);
        p.setAttribute('aria-checked', 'false');
        p.tabIndex = r === 0 && c === 1 ? 0 : -1;
        p.dataset.row = r;
        p.dataset.bit = 7 - c;
        $('pixels').append(p);
        pixels[r].push(p);
      }
    }
  }

  // Sets each pixel's aria-checked from the edited glyph's bytes.
  function drawEditor() {
    $('glyph-title').textContent = page.open ? `Glyph ${hex(page.current)}` : 'Glyph';
    if (!page.open) return;
    const rows = glyphBytes(page.current);
    for (let r = 0; r < 8; r++) {
      for (let c = 0; c < 8; c++) {
        const on = (rows[r] >> (7 - c)) & 1 ? 'true' : 'false';
        if (pixels[r][c].getAttribute('aria-checked') !== on) pixels[r][c].setAttribute('aria-checked', on);
      }
    }
  }

  // Edits the current glyph as the module's ZpEdit `edit` says.
  function editGlyph(edit, row = 0, bit = 0) {
    if (!page.open) return;
    const code = page.current;
    change([code], () => M._zp_edit_glyph(code, edit, row, bit));
  }

  // Makes `code` the glyph being edited; with `extend` the range runs from the anchor to it.
  function select(code, extend = false) {
    if (code < 0 || code >= page.glyphs) return;
    const old = page.current;
    const oldAnchor = page.anchor;
    page.anchor = extend ? (page.anchor ?? old) : null;
    page.current = code;
    const touched = new Set([old, code]);
    if (oldAnchor !== null || page.anchor !== null) drawRows(true);
    for (const c of touched) {
      const b = cellButton(c);
      if (b) drawCell(b, c);
    }
    drawEditor();
  }

  // The pixel under `event`: its row and bit, and its element; null off the pixels.
  function pixelAt(event) {
    const p = event.target.closest && event.target.closest('.pixel');
    return p ? { row: +p.dataset.row, bit: +p.dataset.bit, element: p } : null;
  }

  // A press on a pixel flips it; dragging on sets (or clears) the others alike,
  // and the release keeps it all as one step of Undo.
  function startDrag(event) {
    const p = pixelAt(event);
    if (!p || !page.open || event.button !== 0) return;
    event.preventDefault();
    p.element.focus();
    moveCursor(p.row, p.bit);
    const set = p.element.getAttribute('aria-checked') !== 'true';
    page.drag = { set, before: copyGlyphs([page.current]), code: page.current };
    M._zp_edit_glyph(page.current, set ? EDIT.set : EDIT.clear, p.row, p.bit);
    refresh([page.current]);
  }

  function moveDrag(event) {
    if (!page.drag || !(event.buttons & 1)) return;
    const p = pixelAt(event);
    if (!p) return;
    if (M._zp_edit_glyph(page.drag.code, page.drag.set ? EDIT.set : EDIT.clear, p.row, p.bit)) refresh([page.drag.code]);
  }

  function endDrag() {
    if (!page.drag) return;
    const { code, before } = page.drag;
    page.drag = null;
    if (record([code], before)) status(`Glyph 0x${hex(code)} changed`);
  }

  // Makes the pixel at `row`, `bit` the one that Tab reaches; returns its element.
  function moveCursor(row, bit) {
    const old = pixels[page.cursor.row][7 - page.cursor.bit];
    page.cursor = { row: (row + 8) % 8, bit: (bit + 8) % 8 };
    const now = pixels[page.cursor.row][7 - page.cursor.bit];
    old.tabIndex = -1;
    now.tabIndex = 0;
    return now;
  }

  // Arrows move between the pixels, Space flips one.
  function pixelKey(event) {
    const moves = { ArrowUp: [-1, 0], ArrowDown: [1, 0], ArrowLeft: [0, 1], ArrowRight: [0, -1] };
    const p = pixelAt(event);
    if (!p) return;
    const { row, bit } = p;
    if (moves[event.key]) {
      event.preventDefault();
      moveCursor(row + moves[event.key][0], bit + moves[event.key][1]).focus();
    } else if (event.key === ' ') {
      event.preventDefault();
      editGlyph(EDIT.toggle, row, bit);
    }
  }

  // ---- Sample text ------------------------------------------------------

  function drawSample() {
    const canvas = $('sample-line');
    const bytes = new TextEncoder().encode($('sample').value);
    const width = Math.max(bytes.length * 7, 1);
    if (canvas.width !== width) canvas.width = width;
    canvas.style.width = `${width * 3}px`;
    canvas.style.height = '24px';
    if (!page.open) return;
    const image = new ImageData(width, 8);
    const d = image.data;
    d.fill(255);
    bytes.forEach((code, i) => {
      if (code >= page.glyphs) return;
      const rows = glyphBytes(code);
      for (let r = 0; r < 8; r++) {
        for (let c = 0; c < 7; c++) {
          if ((rows[r] >> (6 - c)) & 1) d.fill(0, (r * width + i * 7 + c) * 4, (r * width + i * 7 + c) * 4 + 3);
        }
      }
    });
    canvas.getContext('2d').putImageData(image, 0, 0);
  }

  // ---- Files ------------------------------------------------------------

  function download(name, bytes) {
    const url = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
    const a = document.createElement('a');
    a.href = url;
    a.download = name;
    a.click();
    setTimeout(() => URL.revokeObjectURL(url), 10000);
  }

  // `name` without its extension, for an export's name.
  const stem = (name) => name.replace(/\.[^.]*$/, '') || 'font';

  // Open image: the File System Access API's picker where there is one (Save
  // then writes in place), else the file input.
  async function openImage() {
    if (page.changed.size && !confirm('Drop the unsaved changes?')) return;
    if (!window.showOpenFilePicker) {
      $('open-file').click();
      return;
    }
    let handle;
    try {
      [handle] = await window.showOpenFilePicker();
    } catch (e) {
      if (e.name !== 'AbortError') alertText(String(e.message || e));
      return;
    }
    await loadImage(await handle.getFile(), handle);
  }

  // Reads the image `file` into the module and shows it; `handle` is its
  // File System Access handle, or null.
  async function loadImage(file, handle) {
    alertText('');
    // Room first: a file too large is refused before it is read.
    if (!M._zp_image_reserve(Math.min(file.size, 0xffffffff))) {
      alertText(message());
      return;
    }
    try {
      heap().set(new Uint8Array(await file.arrayBuffer()), M._zp_image());
    } catch (e) {
      M._zp_image_reserve(0);
      Object.assign(page, { open: false, glyphs: 0, changed: new Set(), undo: [], redo: [] });
      drawRows(true);
      updateButtons();
      alertText(`zenpo-edit: ${file.name}: cannot read it: ${e.message || e}`);
      return;
    }
    M._zp_image_opened();
    Object.assign(page, {
      name: file.name, handle, size: file.size, glyphs: M._zp_glyph_count(), open: true,
      anchor: null, undo: [], redo: [], changed: new Set(), drag: null,
    });
    page.current = Math.min(0x41, Math.max(page.glyphs - 1, 0));
    $('scroller').scrollTop = 0;
    drawRows(true);
    drawEditor();
    drawSample();
    updateButtons();
    const last = page.glyphs ? `, glyphs 0x0 to 0x${hex(page.glyphs - 1, 1)}` : '';
    status(`${file.name}: ${file.size} bytes${last}`);
    document.body.dataset.opened = String(performance.now());
  }

  // The changed glyphs as runs of codes next to each other: [first, count].
  function changedRuns() {
    const codes = [...page.changed].sort((a, b) => a - b);
    const runs = [];
    for (const code of codes) {
      const last = runs[runs.length - 1];
      if (last && last[0] + last[1] === code) last[1]++;
      else runs.push([code, 1]);
    }
    return runs;
  }

  // Save image: the changed glyphs written in place after checking the file's
  // size, or the whole image downloaded.
  async function save() {
    alertText('');
    const count = page.changed.size;
    try {
      if (page.handle && page.handle.createWritable) {
        const file = await page.handle.getFile();
        if (file.size !== page.size) {
          alertText(`zenpo-edit: ${page.name}: it is now ${file.size} bytes, not the ${page.size} it had when opened: nothing written; open it again`);
          return;
        }
        const writable = await page.handle.createWritable({ keepExistingData: true });
        for (const [first, n] of changedRuns()) {
          const start = M._zp_image() + first * 8;
          await writable.write({ type: 'write', position: first * 8, data: heap().slice(start, start + n * 8) });
        }
        await writable.close();
        status(`Saved ${count} glyphs into ${page.name}`);
      } else {
        const start = M._zp_image();
        download(page.name, heap().slice(start, start + page.size));
        status(`Saved ${page.name} (${page.size} bytes) as a download`);
      }
    } catch (e) {
      alertText(`zenpo-edit: ${page.name}: cannot write it: ${e.message || e}`);
      return;
    }
    M._zp_image_opened();
    page.changed.clear();
    drawRows(true);
    updateButtons();
  }

  // Import font: the module reads `file` as zenpo-convert does; its glyphs go
  // into the image as one step of Undo.
  async function importFont(file) {
    alertText('');
    const bytes = new Uint8Array(await file.arrayBuffer());
    const p = M._malloc(Math.max(bytes.length, 1));
    heap().set(bytes, p);
    const n = withStrings([file.name, $('map').value, $('drop').value], (name, map, drop) =>
      M._zp_import(p, bytes.length, name, map, drop));
    M._free(p);
    const text = message();
    if (n < 0) {
      alertText(text);
      return;
    }
    const codes = Array.from(M.HEAPU32.subarray(M._zp_import_codes() / 4, M._zp_import_codes() / 4 + n));
    const rows = heap().slice(M._zp_import_rows(), M._zp_import_rows() + n * 8);
    const before = copyGlyphs(codes);
    putGlyphs(codes, rows);
    const changed = record(codes, before);
    status(`Imported ${n} glyphs from ${file.name}${changed ? '' : ': no glyph changed'}${text ? `\n${text}` : ''}`);
  }

  // Export: the module writes the patch or font, which is downloaded.
  function exportAs(kind) {
    alertText('');
    const [format, extension] = EXPORTS[kind];
    const ok = withStrings([page.name, $('sample').value], (name, sample) => M._zp_export(format, name, sample));
    const text = message();
    if (!ok) {
      alertText(text);
      return;
    }
    const bytes = heap().slice(M._zp_output(), M._zp_output() + M._zp_output_size());
    const name = stem(page.name) + extension;
    download(name, bytes);
    status(`Exported ${name}${text ? `\n${text}` : ''}`);
  }

  // ---- Copy and paste ---------------------------------------------------

  function copy() {
    const first = page.anchor === null ? page.current : Math.min(page.anchor, page.current);
    const last = page.anchor === null ? page.current : Math.max(page.anchor, page.current);
    const codes = [];
    for (let c = first; c <= last; c++) codes.push(c);
    page.clipboard = copyGlyphs(codes);
    status(`Copied ${describe(codes)}`);
  }

  // Pastes what was copied from the edited glyph on, as one step of Undo.
  function paste() {
    if (!page.clipboard || !page.open) return;
    const codes = [];
    for (let c = page.current; c < page.glyphs && codes.length < page.clipboard.length / 8; c++) codes.push(c);
    change(codes, () => putGlyphs(codes, page.clipboard));
    status(`Pasted ${describe(codes)} at 0x${hex(page.current)}`);
  }

  // ---- Wiring -----------------------------------------------------------

  function keys(event) {
    const inText = event.target instanceof HTMLInputElement;
    if (!(event.ctrlKey || event.metaKey) || inText || !page.open) return;
    const key = event.key.toLowerCase();
    const action = {
      z: event.shiftKey ? 'redo' : 'undo', y: 'redo', c: 'copy', v: 'paste',
    }[key];
    if (!action) return;
    event.preventDefault();
    ({ undo: () => undoRedo(page.undo, page.redo, 'before'), redo: () => undoRedo(page.redo, page.undo, 'after'), copy, paste })[action]();
  }

  // Connects the controls to what they do.
  function wire() {
    $('open').addEventListener('click', openImage);
    $('open-file').addEventListener('change', async (e) => {
      const file = e.target.files[0];
      e.target.value = '';
      if (file) await loadImage(file, null);
    });
    $('save').addEventListener('click', save);
    $('undo').addEventListener('click', () => undoRedo(page.undo, page.redo, 'before'));
    $('redo').addEventListener('click', () => undoRedo(page.redo, page.undo, 'after'));
    $('import').addEventListener('click', () => $('import-file').click());
    $('import-file').addEventListener('change', async (e) => {
      const file = e.target.files[0];
      e.target.value = '';
      if (file) await importFont(file);
    });
    for (const kind of Object.keys(EXPORTS)) $(`export-${kind}`).addEventListener('click', () => exportAs(kind));
    $('copy').addEventListener('click', copy);
    $('paste').addEventListener('click', paste);
    document.querySelectorAll('[data-edit]').forEach((b) => b.addEventListener('click', () => editGlyph(+b.dataset.edit)));
    $('rows').addEventListener('click', (e) => {
      const b = e.target.closest('.glyph');
      if (b && !b.disabled) select(+b.dataset.code, e.shiftKey);
    });
    $('scroller').addEventListener('scroll', () => drawRows());
    window.addEventListener('resize', () => drawRows());
    $('pixels').addEventListener('pointerdown', startDrag);
    $('pixels').addEventListener('pointerover', moveDrag);
    $('pixels').addEventListener('keydown', pixelKey);
    $('pixels').addEventListener('focusin', (e) => {
      const p = pixelAt(e);
      if (p) moveCursor(p.row, p.bit);
    });
    window.addEventListener('pointerup', endDrag);
    $('sample').addEventListener('input', drawSample);
    document.addEventListener('keydown', keys);
    window.addEventListener('beforeunload', (e) => {
      if (page.changed.size === 0) return;
      e.preventDefault();
      e.returnValue = '';
    });
  }

  const columns = $('columns');
  for (let c = 0; c < 16; c++) {
    const s = document.createElement('span');
    s.textContent = hex(c, 1);
    columns.append(s);
  }
  makeEditor();
  wire();
  drawSample();
  // Compiled at once (an async compile would fetch the inlined wasm, which the
  // page's policy forbids); the module is ready when its promise settles.
  const started = ZenpoEditModule();
  (started.ready || started).then((module) => {
    M = module;
    scratch = M._malloc(8);
    updateButtons();
    status('Open an image: SUBSYSCG.ROM or SUBSYS_C.ROM');
    document.body.dataset.ready = String(performance.now());
  }, (e) => alertText(`zenpo-edit: the page cannot start: ${e.message || e}`));
})();
