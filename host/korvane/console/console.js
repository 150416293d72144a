// The web console of korvane-host: lists the plug-in's catalogue, shows a
// table, builds where-clauses and follows drill-down links. Everything it
// shows comes from the plug-in's answers, so every value is written as text
// (textContent), never as markup.
//
// The state of a view lives in the URL's fragment, so the browser's history,
// bookmarks and shared addresses all work:
//   t  table name              w  where-clause: [{g, lp, col, op, val, rp}]
//   c  output columns (absent: all)   n  no records
//   l  a drill-down link's request text, sent as it stands (t names its table)
//   s  sort: [column name, 1 or -1]   r  refresh every r seconds
//   h  trail: the views followed to get here (each without its own h)
'use strict';

(() => {
  const OPERATORS = ['EQUAL', 'NEQ', 'LESS', 'GREATER', 'LEQ', 'GREATEQ', 'LIKE', 'NOTLIKE',
                     'WITHINSET', 'NOTINSET', 'UNIQUE'];
  const OPERATOR_HINTS = {
    EQUAL: 'equal to', NEQ: 'not equal to', LESS: 'less than', GREATER: 'greater than',
    LEQ: 'less than or equal to', GREATEQ: 'greater than or equal to',
    LIKE: 'matches: D* begins, *h ends, *e* contains', NOTLIKE: 'does not match the pattern',
    WITHINSET: 'one of: a,b,1-10', NOTINSET: 'none of: a,b,1-10',
    UNIQUE: 'first row with this value (no value needed)',
  };
  const SEVERITY_CLASSES = {ERROR: 'severity-error', WARNING: 'severity-warning',
                            INFO: 'severity-info'};
  const NUMERIC_TYPE = /^(?:[us]int\d+|real\d+|timestamp)$/;
  const MAX_PARENS = 9;

  const $ = (id) => document.getElementById(id);
  const columnsOf = new Map();  // table name -> [{name, type, tip}], from full answers
  let state = {};
  let model = null;             // the answer shown: {name, date, error, cols, rows}
  let fetchSerial = 0;
  let autoTimer = 0;

  // An element with text content and attributes; never parses markup.
  function el(tag, text, attributes) {
    const node = document.createElement(tag);
    if (text !== undefined) node.textContent = text;
    for (const [name, value] of Object.entries(attributes || {})) node.setAttribute(name, value);
    return node;
  }

  // ---- The URL fragment -------------------------------------------------

  const text = (value) => (typeof value === 'string' ? value : '');
  const count = (value) => Math.min(MAX_PARENS, Math.max(0, Math.trunc(Number(value)) || 0));

  // A view read from untrusted JSON: unknown fields dropped, types forced.
  function cleanView(raw, withTrail) {
    const view = {};
    if (!raw || typeof raw !== 'object') return view;
    if (text(raw.t)) view.t = raw.t;
    if (text(raw.l)) view.l = raw.l;
    if (Array.isArray(raw.w)) {
      view.w = raw.w.filter((p) => p && typeof p === 'object').map((p) => ({
        g: p.g === 'OR' ? 'OR' : 'AND', lp: count(p.lp), col: text(p.col),
        op: OPERATORS.includes(p.op) ? p.op : 'EQUAL', val: text(p.val), rp: count(p.rp),
      }));
    }
    if (Array.isArray(raw.c)) view.c = raw.c.filter((name) => typeof name === 'string');
    if (raw.n === true) view.n = true;
    if (Array.isArray(raw.s) && text(raw.s[0])) view.s = [raw.s[0], raw.s[1] === -1 ? -1 : 1];
    if (Number(raw.r) > 0) view.r = Math.min(3600, Math.trunc(Number(raw.r)));
    if (withTrail && Array.isArray(raw.h)) view.h = raw.h.map((entry) => cleanView(entry, false));
    return view;
  }

  function readFragment() {
    try {
      return cleanView(JSON.parse(decodeURIComponent(location.hash.slice(1))), true);
    } catch (e) {
      return {};
    }
  }

  const fragmentOf = (view) => '#' + encodeURIComponent(JSON.stringify(view));

  function go(view) {
    const fragment = fragmentOf(view);
    if (fragment === location.hash) load();
    else location.hash = fragment;  // a new history entry; hashchange loads it
  }

  // Sort and refresh period change how the view is shown, not what it is:
  // the address follows without a new history entry.
  function remember() {
    history.replaceState(null, '', fragmentOf(state));
  }

  // The view as a trail entry: what it asked for, not how it was shown.
  function trailEntry(view) {
    const entry = {...view};
    delete entry.h;
    delete entry.r;
    delete entry.s;
    return entry;
  }

  // ---- Requests ---------------------------------------------------------

  // An attribute value for the request reader, which turns \\, \t, \n and \r
  // back into a backslash, tab, line feed and carriage return. Other control
  // characters cannot be carried by XML 1.0 at all and are left out.
  function attr(value) {
    return String(value)
      .replace(/[\\\t\n\r]/g, (c) => ({'\\': '\\\\', '\t': '\\t', '\n': '\\n', '\r': '\\r'})[c])
      .replace(/[\x00-\x08\x0b\x0c\x0e-\x1f\ufffe\uffff]/g, '')
      .replace(/[&<>"']/g,
               (c) => ({'&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&apos;'})[c]);
  }

  function predicateXml(p, index) {
    const logic = index > 0 ? `      <logic oper="${p.g}"/>\n` : '';
    const parens = (p.lp ? ` lparen="${p.lp}"` : '') + (p.rp ? ` rparen="${p.rp}"` : '');
    return `${logic}      <predicat${parens}><compare oper="${p.op}">` +
           `<target name="${attr(p.col)}"></target><atom value="${attr(p.val)}"></atom>` +
           '</compare></predicat>\n';
  }

  function requestFor(view) {
    if (view.l) return view.l;
    let output = '<all/>';
    if (view.n) output = '<norecords/>';
    else if (view.c) output = `<col>${view.c.map((c) => `<target name="${attr(c)}"/>`).join('')}</col>`;
    return '<?xml version="1.0" encoding="UTF-8"?>\n' +
           '<tesselrequest version="V02.0" transactionid="console">\n' +
           '  <sponsor version="V02.0">korvane-console</sponsor>\n' +
           `  <portal location="${attr(location.origin + '/')}"/>\n` +
           '  <select>\n' +
           `    <output>${output}</output>\n` +
           `    <from><db name="${attr(view.t)}"/></from>\n` +
           `    <where>\n${(view.w || []).map(predicateXml).join('')}    </where>\n` +
           '  </select>\n' +
           '</tesselrequest>\n';
  }

  async function post(body) {
    const response = await fetch('/', {method: 'POST', body, cache: 'no-store',
                                       headers: {'Content-Type': 'text/xml; charset=utf-8'}});
    return {status: response.status, body: await response.text()};
  }

  // ---- Answers ----------------------------------------------------------

  const firstText = (parent, tag) => {
    const node = parent.getElementsByTagName(tag)[0];
    return node ? node.textContent : '';
  };

  // The table answer as plain data; null when the text is not one.
  function parseAnswer(body) {
    const doc = new DOMParser().parseFromString(body, 'application/xml');
    if (doc.getElementsByTagName('parsererror').length) return null;
    const table = doc.getElementsByTagName('RESPONSE_TABLE')[0];
    if (!table) return null;
    const answer = {name: firstText(table, 'NAME'), date: firstText(table, 'DATE').trim(),
                    error: null, cols: [], rows: []};
    const error = table.getElementsByTagName('ERROR')[0];
    if (error) {
      answer.error = {code: firstText(error, 'CODE'), desc: firstText(error, 'DESC'),
                      lines: Array.from(error.getElementsByTagName('TROUBLESHOOTING'),
                                        (line) => line.textContent)};
    }
    for (const col of table.getElementsByTagName('COL')) {
      answer.cols.push({name: col.getAttribute('NAME') || '', type: col.getAttribute('TYPE') || '',
                        tip: col.getAttribute('TOOLTIP') || ''});
    }
    for (const rec of table.getElementsByTagName('REC')) {
      const values = Array.from(rec.getElementsByTagName('VAL'),
                                (v) => ({text: v.textContent, link: v.getAttribute('LINK') || ''}));
      // A record may hold fewer values than the table has columns.
      while (values.length < answer.cols.length) values.push({text: '', link: ''});
      answer.rows.push(values);
    }
    return answer;
  }

  // The table a link's request selects, for the trail.
  function tableOfLink(link) {
    const doc = new DOMParser().parseFromString(link, 'application/xml');
    const db = doc.getElementsByTagName('parsererror').length ? null : doc.querySelector('db');
    if (db && db.getAttribute('name')) return db.getAttribute('name');
    const match = /<db\s+name="([^"]*)"/i.exec(link);
    return match ? match[1] : 'link';
  }

  // ---- The catalogue ----------------------------------------------------

  async function loadCatalogue() {
    const list = $('catalogue-list');
    $('catalogue-status').textContent = 'Loading…';
    try {
      const {status, body} = await post(requestFor({t: 'Define'}));
      const answer = parseAnswer(body);
      if (!answer || answer.error) {
        throw new Error(answer ? `${answer.error.code} ${answer.error.desc}` : `HTTP ${status}`);
      }
      const names = [];
      for (const row of answer.rows) {
        const entry = new DOMParser().parseFromString(row[0].text, 'application/xml');
        const method = entry.getElementsByTagName('MethodName')[0];
        const name = method ? method.textContent : tableOfLink(row[1] ? row[1].text : '');
        const item = el('li');
        const anchor = el('a', name, {href: fragmentOf({t: name})});
        anchor.title = firstText(entry, 'Description');
        item.append(anchor);
        names.push(item);
      }
      list.replaceChildren(...names);
      $('table-names').replaceChildren(...names.map((item) => el('option', undefined,
          {value: item.textContent})));
      $('catalogue-status').textContent = `${names.length} tables`;
      markCatalogue();
    } catch (e) {
      $('catalogue-status').textContent = `The catalogue could not be read: ${e.message}`;
    }
  }

  function markCatalogue() {
    for (const anchor of $('catalogue-list').querySelectorAll('a')) {
      if (!state.l && anchor.textContent === state.t) anchor.setAttribute('aria-current', 'page');
      else anchor.removeAttribute('aria-current');
    }
  }

  // ---- The query form ---------------------------------------------------

  function select(options, value, label) {
    const node = el('select', undefined, {'aria-label': label});
    for (const [optionValue, optionText, hint] of options) {
      const option = el('option', optionText, {value: optionValue});
      if (hint) option.title = hint;
      node.append(option);
    }
    node.value = value;
    return node;
  }

  const parenOptions = (mark) =>
    Array.from({length: MAX_PARENS + 1}, (_, n) => [String(n), mark.repeat(n)]);

  function addWhereRow(p) {
    const row = el('div', undefined, {class: 'where-row'});
    const first = $('where-rows').children.length === 0;
    const logic = select([['AND', 'AND'], ['OR', 'OR']], p.g, 'joined by');
    logic.classList.add('logic');
    logic.hidden = first;
    const column = el('input', undefined, {list: 'column-names', 'aria-label': 'column',
                                           class: 'column', placeholder: 'column'});
    column.value = p.col;
    const value = el('input', undefined, {'aria-label': 'value', class: 'value',
                                          placeholder: 'value'});
    value.value = p.val;
    const remove = el('button', '✕', {type: 'button', title: 'Remove this condition',
                                      'aria-label': 'remove'});
    remove.addEventListener('click', () => {
      row.remove();
      const head = $('where-rows').firstElementChild;
      if (head) head.querySelector('.logic').hidden = true;
    });
    const lparen = select(parenOptions('('), String(p.lp), 'opening parentheses');
    lparen.classList.add('lparen');
    const operator = select(OPERATORS.map((op) => [op, op, OPERATOR_HINTS[op]]), p.op, 'operator');
    operator.classList.add('operator');
    const rparen = select(parenOptions(')'), String(p.rp), 'closing parentheses');
    rparen.classList.add('rparen');
    row.append(logic, lparen, column, operator, value, rparen, remove);
    $('where-rows').append(row);
    return row;
  }

  function readWhere() {
    return Array.from($('where-rows').children, (row) => ({
      g: row.querySelector('.logic').value, lp: count(row.querySelector('.lparen').value),
      col: row.querySelector('.column').value, op: row.querySelector('.operator').value,
      val: row.querySelector('.value').value, rp: count(row.querySelector('.rparen').value),
    }));
  }

  function showColumnChoices() {
    const known = columnsOf.get(state.t) || (model && !state.c ? model.cols : []);
    const names = known.map((col) => col.name);
    for (const name of state.c || []) if (!names.includes(name)) names.push(name);
    // A refresh keeps choices the operator has not applied yet.
    const key = JSON.stringify([names, state.c]);
    if ($('column-choices').dataset.key === key) return;
    $('column-choices').dataset.key = key;
    $('column-choices').replaceChildren(...names.map((name) => {
      const box = el('input', undefined, {type: 'checkbox', value: name});
      box.checked = !state.c || state.c.includes(name);
      const label = el('label');
      label.append(box, ' ', name);
      return label;
    }));
    $('column-names').replaceChildren(...names.map((name) => el('option', undefined, {value: name})));
  }

  function fillForm() {
    delete $('column-choices').dataset.key;
    $('where-rows').replaceChildren();
    for (const p of state.w || []) addWhereRow(p);
    $('no-records').checked = Boolean(state.n);
    $('auto').value = String(state.r || 0);
    if ($('auto').value !== String(state.r || 0)) {
      $('auto').append(el('option', `${state.r} s`, {value: String(state.r)}));
      $('auto').value = String(state.r);
    }
    for (const part of ['where', 'output']) $(part).disabled = Boolean(state.l);
    $('apply').disabled = Boolean(state.l);
    $('link-note').hidden = !state.l;
    showColumnChoices();
  }

  function applyForm(event) {
    event.preventDefault();
    const boxes = Array.from($('column-choices').querySelectorAll('input'));
    const view = {t: state.t, h: state.h, s: state.s, r: state.r};
    const where = readWhere();
    if (where.length) view.w = where;
    if (boxes.some((box) => !box.checked)) {
      view.c = boxes.filter((box) => box.checked).map((box) => box.value);
    }
    if ($('no-records').checked) view.n = true;
    go(view);
  }

  // ---- Showing a view ---------------------------------------------------

  function showTrail() {
    const items = (state.h || []).map((entry, i) => {
      const item = el('li');
      item.append(el('a', entry.t || 'link', {href: fragmentOf({...entry, h: state.h.slice(0, i)})}));
      return item;
    });
    if (items.length) items.push(el('li', state.t || 'link', {'aria-current': 'page'}));
    $('trail').replaceChildren(...items);
  }

  function compareValues(a, b, numeric) {
    if (numeric) {
      const x = Number(a);
      const y = Number(b);
      if (a !== '' && b !== '' && Number.isFinite(x) && Number.isFinite(y)) return x - y;
    }
    return a < b ? -1 : a > b ? 1 : 0;
  }

  function sortBy(name) {
    state.s = state.s && state.s[0] === name && state.s[1] === 1 ? [name, -1] : [name, 1];
    remember();
    showTable();
  }

  function showTable() {
    const {cols, rows} = model;
    const head = el('tr');
    const sortIndex = state.s ? cols.findIndex((col) => col.name === state.s[0]) : -1;
    cols.forEach((col, i) => {
      const cell = el('th', undefined, {scope: 'col', title: col.tip ? `${col.type}: ${col.tip}` : col.type});
      const button = el('button', col.name, {type: 'button', class: 'sort'});
      button.addEventListener('click', () => sortBy(col.name));
      cell.append(button);
      if (i === sortIndex) cell.setAttribute('aria-sort', state.s[1] === 1 ? 'ascending' : 'descending');
      head.append(cell);
    });
    let shown = rows;
    if (sortIndex >= 0) {
      const numeric = NUMERIC_TYPE.test(cols[sortIndex].type);
      shown = rows.slice().sort((a, b) =>
        state.s[1] * compareValues(a[sortIndex].text, b[sortIndex].text, numeric));
    }
    const body = shown.map((values) => {
      const row = el('tr');
      values.slice(0, Math.max(cols.length, 1)).forEach((value) => {
        const cell = el('td');
        if (value.link) {
          const target = {l: value.link, t: tableOfLink(value.link),
                          h: [...(state.h || []), trailEntry(state)]};
          cell.append(el('a', value.text, {href: fragmentOf(target)}));
        } else {
          cell.textContent = value.text;
        }
        const severity = SEVERITY_CLASSES[value.text];
        if (severity) cell.classList.add(severity);
        row.append(cell);
      });
      return row;
    });
    $('result').tHead.replaceChildren(head);
    $('result').tBodies[0].replaceChildren(...body);
    $('row-count').textContent = `${rows.length} ${rows.length === 1 ? 'row' : 'rows'}`;
  }

  function showAnswer(status, body) {
    $('response-text').textContent = body;
    model = parseAnswer(body);
    const error = model ? model.error
                        : {code: `HTTP ${status}`, desc: body.trim() || 'no answer', lines: []};
    if (model && !model.error && !state.c && !state.l) columnsOf.set(state.t, model.cols);
    $('title').textContent = (model && model.name) || state.t || 'link';
    $('date').textContent = model && model.date ? `as of ${model.date}` : '';
    $('error').hidden = !error;
    $('row-count').hidden = $('table-box').hidden = Boolean(error);
    if (error) {
      $('error-code').textContent = `Error ${error.code}`;
      $('error-desc').textContent = error.desc;
      $('error-lines').replaceChildren(...error.lines.map((line) => el('li', line)));
    } else {
      showTable();
    }
    showColumnChoices();
  }

  // Sends the view's request and shows its answer; an answer that arrives
  // after the view has changed is dropped.
  async function fetchView() {
    const serial = ++fetchSerial;
    const request = requestFor(state);
    $('request-text').textContent = request;
    document.body.classList.add('busy');
    let status = 0;
    let body = '';
    try {
      ({status, body} = await post(request));
    } catch (e) {
      body = `The host did not answer: ${e.message}`;
    }
    // A restricted column list hides the others; ask once for the full set.
    if (state.c && !columnsOf.has(state.t)) {
      try {
        const full = parseAnswer((await post(requestFor({t: state.t, n: true}))).body);
        if (full && !full.error) columnsOf.set(state.t, full.cols);
      } catch (e) {
        // The choices then offer the columns shown.
      }
    }
    if (serial !== fetchSerial) return;
    showAnswer(status, body);
    document.body.classList.remove('busy');
    document.body.dataset.rendered = String(Number(document.body.dataset.rendered) + 1);
  }

  function setAutoRefresh() {
    clearInterval(autoTimer);
    autoTimer = 0;
    if (state.r && (state.t || state.l)) {
      autoTimer = setInterval(() => {
        if (!document.hidden) fetchView();
      }, state.r * 1000);
    }
  }

  function load() {
    state = readFragment();
    model = null;
    const active = Boolean(state.t || state.l);
    $('home').hidden = active;
    $('view').hidden = !active;
    showTrail();
    markCatalogue();
    setAutoRefresh();
    if (!active) {
      ++fetchSerial;
      return;
    }
    fillForm();
    $('title').textContent = state.t || 'link';
    fetchView();
  }

  async function copy(button) {
    const source = $(button.dataset.from);
    try {
      await navigator.clipboard.writeText(source.textContent);
    } catch (e) {
      // Without the clipboard API (an insecure origin), copy the selection.
      getSelection().selectAllChildren(source);
      document.execCommand('copy');
    }
    button.textContent = 'Copied';
    setTimeout(() => { button.textContent = 'Copy'; }, 1500);
  }

  document.addEventListener('DOMContentLoaded', () => {
    $('open-form').addEventListener('submit', (event) => {
      event.preventDefault();
      go({t: $('open-name').value});
    });
    $('query').addEventListener('submit', applyForm);
    $('where-add').addEventListener('click', () => {
      addWhereRow({g: 'AND', lp: 0, col: '', op: 'EQUAL', val: '', rp: 0}).querySelector('.column').focus();
    });
    $('refresh').addEventListener('click', () => fetchView());
    $('auto').addEventListener('change', () => {
      state.r = Number($('auto').value) || undefined;
      remember();
      setAutoRefresh();
    });
    $('link-open').addEventListener('click', () =>
      go({t: state.t, h: [...(state.h || []), trailEntry(state)]}));
    $('catalogue-reload').addEventListener('click', loadCatalogue);
    for (const button of document.querySelectorAll('button.copy')) {
      button.addEventListener('click', () => copy(button));
    }
    window.addEventListener('hashchange', load);
    loadCatalogue();
    load();
  });
})();
