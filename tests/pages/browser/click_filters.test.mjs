// Chart click filters in the real page: a click on a bar, a point or a slice narrows every
// paginated table of the dashboard to the rows behind it (row counts compared with the engine),
// with its mark and indicator; clicking again, another element and "Clear"; paging, the
// CSV export and a dropdown filter keep it, another dashboard clears it; labels that look like numbers,
// apostrophes, NULL categories and markup; quoted names and computed categories, and why a chart
// cannot be clicked.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { withApp, runEngine, makeTemp, waitForFile } from './harness.mjs';
import { storeQueries, storeDashboard, choose, content, openDashboard, clickAt, elementAt, engineCount, indicator, waitRange }
  from './dashboard_helpers.mjs';
import { chartView, pointAt, tipText, waitDrawn, selection } from './chart_helpers.mjs';

const REGIONS = ['north', 'south', 'east', "o'west"];
const CODES = ['007', '10', 'x9', '2.50'];
const MARKUP = '<img src=x onerror=window.__pwned=1>';
const TAGS = ['', "it's", MARKUP, 'plain'];
const N = 3000;
const CSV =
  'id,region,category,code,year,amount,day,tag\n' +
  Array.from({ length: N }, (_, i) => {
    const day = `2024-0${(i % 6) + 1}-${String((i % 28) + 1).padStart(2, '0')}`;
    const region = REGIONS[i % 4].includes("'") ? `"${REGIONS[i % 4]}"` : REGIONS[i % 4];
    return [i + 1, region, 'ABC'[i % 3], CODES[Math.floor(i / 2) % 4], 2023 + (i % 2), (i % 50) + 1, day, TAGS[Math.floor(i / 3) % 4]].join(',');
  }).join('\n') + '\n';

async function cursor(page, sel) {
  return page.$eval(`${sel} .dash-chart`, (b) => b.style.cursor);
}

// The engine's answer of a chart query: labels (NULL as empty text, as the page gets them) and
// one value list per further column.
function chartData(sql, cwd) {
  const rows = JSON.parse(runEngine(sql, cwd, true) || '[]');
  const keys = Object.keys(rows[0]);
  return {
    labels: rows.map((r) => (r[keys[0]] === null ? '' : String(r[keys[0]]))),
    series: keys.slice(1).map((k) => rows.map((r) => Number(r[k]))),
  };
}

// Rows of the data file meeting every condition given, as the engine counts them.
const countRows = (cwd, ...conditions) => engineCount(cwd, "read_csv('sales.csv')", ...conditions);

test('clicks on bars, points and slices narrow both paginated tables; again, another, Clear; paging, CSV and a dropdown filter keep it, another dashboard clears it', async () => {
  const out = makeTemp('plinthos-out-');
  try {
    await withApp({ data: { 'sales.csv': CSV } }, async ({ page, server, data }) => {
      const src = `read_csv('${path.join(data, 'sales.csv')}')`;
      const BIG = 'amount > 40 OR id <= 3';
      const sql = {
        regions: `SELECT region, SUM(amount) AS total, SUM(amount) FILTER (WHERE amount IN (10, 20, 30, 40, 50) OR category IN ('A')) AS picked FROM ${src} GROUP BY region ORDER BY region`,
        months: `SELECT CAST(DATE_TRUNC('month', day) AS DATE) AS month, COUNT(id) AS orders FROM ${src} GROUP BY 1 ORDER BY 1`,
        categories: `SELECT category, COUNT(id) AS n FROM ${src} GROUP BY category ORDER BY category`,
        orders: `SELECT id, region, category, amount, day FROM ${src} ORDER BY id`,
        // An OR in the stored condition: the click must narrow both of its branches.
        big: `SELECT id, amount, region FROM ${src} WHERE ${BIG} ORDER BY id`,
      };
      await storeQueries(server, sql);
      const rows = [
        { cells: [{ name: 'Regions', query: 'regions', chartType: 'bar', flex: 4 },
          { name: 'Months', query: 'months', chartType: 'line', flex: 4 },
          { name: 'Categories', query: 'categories', chartType: 'pie', flex: 4 }] },
        { cells: [{ name: 'Orders', query: 'orders', chartType: 'paginated', flex: 6 },
          { name: 'Big', query: 'big', chartType: 'paginated', flex: 6 }] },
      ];
      const filters = [{ column: 'category', type: 'text', value: null }];
      await storeDashboard(server, 'Clicks', rows, '', 'csv', filters);
      await storeDashboard(server, 'Other', [{ cells: [{ name: 'Orders', query: 'orders', chartType: 'paginated', flex: 12 }] }]);

      const [bars, line, pie, orders, big] = [content(0, 0), content(0, 1), content(0, 2), content(1, 0), content(1, 1)];
      const all = [bars, line, pie, orders, big];
      // Both tables narrowed by a condition (or none), as the engine counts them.
      const tablesShow = async (condition) => {
        await waitRange(page, orders, countRows(data, condition));
        await waitRange(page, big, countRows(data, BIG, condition));
      };
      await openDashboard(page, 'Clicks');
      await waitDrawn(page, all);
      await tablesShow(null);
      assert.equal(await cursor(page, bars), 'pointer');
      // The clicked chart is not queried again: it stays the same element, while the others
      // are drawn anew under the click.
      const marks = () => page.evaluate((sels) => sels.map((s) => document.querySelector(`${s} .dash-chart`).__mark), [bars, line, pie]);
      await page.evaluate((sels) => sels.forEach((s, i) => (document.querySelector(`${s} .dash-chart`).__mark = i + 1)), [bars, line, pie]);

      // A bar of the plain series: the category alone.
      await clickAt(page, bars, 'east');
      await tablesShow(`region = 'east'`);
      await waitDrawn(page, all);
      assert.equal(await indicator(page), 'Filter: region = eastClear');
      assert.deepEqual(await selection(page), ['total:east']);
      assert.deepEqual(await marks(), [1, undefined, undefined]);
      const look = await page.$eval('#chartFilterIndicator', (el) => {
        const s = getComputedStyle(el);
        return [s.position, s.backgroundColor, getComputedStyle(el.querySelector('button')).backgroundColor];
      });
      assert.deepEqual(look, ['static', 'rgb(69, 71, 90)', 'rgb(243, 139, 168)']);

      // The same bar again clears the filter.
      await clickAt(page, bars, 'east');
      await tablesShow(null);
      await waitDrawn(page, all);
      assert.equal(await indicator(page), null);
      assert.equal(await page.evaluate(() => window.chartSelection), null);
      assert.deepEqual(await selection(page), []);

      // The filtered series: its own condition, kept whole and bracketed, joins the category's.
      await clickAt(page, bars, "o'west", 1);
      const picked = `"region" = 'o''west' AND (amount IN (10, 20, 30, 40, 50) OR category IN ('A'))`;
      await tablesShow(picked);
      await waitDrawn(page, all);
      assert.equal(await indicator(page), "Filter: region = o'west (picked)Clear");
      assert.equal(await page.evaluate(() => window.chartClickFilter), picked);

      // Another element replaces the filter, and the mark moves: a line point (of a month the
      // line shows under the bar's click) ...
      await clickAt(page, line, '2024-04-01');
      const cast = `CAST(DATE_TRUNC('month', day) AS DATE) = '2024-04-01'`;
      await tablesShow(cast);
      await waitDrawn(page, all);
      assert.equal(await indicator(page), 'Filter: month = 2024-04-01Clear');
      // Points on a time axis have no names: the fourth month's is marked, drawn anew unfiltered.
      assert.deepEqual(await selection(page), ['orders:3'], 'the mark moved');

      // ... then a slice of a pie shown stretched: the category only.
      await clickAt(page, pie, 'A');
      await tablesShow(`category = 'A'`);
      await waitDrawn(page, all);
      assert.equal(await indicator(page), 'Filter: category = AClear');
      assert.deepEqual(await selection(page), ['A']);

      // Paging keeps the filter, and the export holds exactly the filtered rows.
      const onlyA = countRows(data, `category = 'A'`);
      await page.click(`${orders} .dash-pager-btn >> nth=2`);
      await page.waitForFunction(([s, t]) => document.querySelector(`${s} .dash-paged-range`)?.textContent === t,
        [orders, `11-20 of ${onlyA.toLocaleString('en-US')}`]);
      const target = path.join(out, 'orders.csv');
      await server.dialog(target);
      await page.click(`${orders} button:has-text("⬇ CSV")`);
      await waitForFile(target);
      runEngine(`COPY (SELECT id, region, category, amount, day FROM ${src} WHERE category = 'A' ORDER BY id) TO 'engine.csv' (FORMAT CSV, HEADER)`, out);
      assert.equal(fs.readFileSync(target, 'utf8'), fs.readFileSync(path.join(out, 'engine.csv'), 'utf8'));
      assert.equal(fs.readFileSync(target, 'utf8').trim().split('\n').length, onlyA + 1);

      // "Clear" in the indicator.
      await page.click('#chartFilterIndicator button');
      await tablesShow(null);
      await waitDrawn(page, all);
      assert.equal(await indicator(page), null);
      assert.deepEqual(await selection(page), []);

      // The click belongs to its dashboard: another one shows all its rows, and coming back
      // shows this one unfiltered.
      await clickAt(page, bars, 'north');
      await tablesShow(`region = 'north'`);
      await choose(page, 'Other');
      await waitRange(page, content(0, 0), N);
      assert.equal(await indicator(page), null);
      assert.equal(await page.evaluate(() => window.chartClickFilter), null);
      await choose(page, 'Clicks');
      await waitDrawn(page, all);
      await tablesShow(null);
      assert.deepEqual(await selection(page), []);

      // A dropdown filter change keeps the click filter, adds its own condition, and the bar
      // keeps its mark; clicking it again clears the filter.
      await clickAt(page, bars, 'north');
      await tablesShow(`region = 'north'`);
      await page.waitForFunction(() => document.querySelectorAll('#filter-select-preview-category option').length === 4);
      await page.selectOption('#filter-select-preview-category', 'A');
      await tablesShow(`region = 'north' AND category = 'A'`);
      assert.equal(await indicator(page), 'Filter: region = northClear');
      await waitDrawn(page, all);
      assert.deepEqual(await selection(page), ['total:north']);
      await page.waitForFunction(() => document.querySelectorAll('#filter-select-preview-category option').length === 4);
      await page.selectOption('#filter-select-preview-category', '');
      await tablesShow(`region = 'north'`);
      await waitDrawn(page, all);
      assert.deepEqual(await selection(page), ['total:north']);
      await clickAt(page, bars, 'north');
      await tablesShow(null);
      assert.equal(await indicator(page), null);
      assert.deepEqual(page.__errors || [], []);
    });
  } finally {
    fs.rmSync(out, { recursive: true, force: true });
  }
});

test('labels that look like numbers on text and integer columns, apostrophes, NULL and markup; a CASE axis', async () => {
  await withApp({ data: { 'sales.csv': CSV } }, async ({ page, server, data }) => {
    const src = `read_csv('${path.join(data, 'sales.csv')}')`;
    const sql = {
      codes: `SELECT code, COUNT(id) AS n FROM ${src} GROUP BY code ORDER BY code`,
      years: `SELECT year, COUNT(id) AS n FROM ${src} GROUP BY year ORDER BY year`,
      tags: `SELECT tag, COUNT(id) AS n FROM ${src} GROUP BY tag ORDER BY tag NULLS FIRST`,
      bands: `SELECT CASE WHEN amount <= 20 THEN 'low' ELSE 'high' END AS band, COUNT(id) AS n FROM ${src} GROUP BY 1 ORDER BY 1`,
      orders: `SELECT * FROM ${src} ORDER BY id`,
    };
    await storeQueries(server, sql);
    const chart = (query) => ({ name: query, query, chartType: 'bar', flex: 3 });
    assert.deepEqual(await server.call('saveDashboardCpp', ['Labels', JSON.stringify([
      { cells: ['codes', 'years', 'tags', 'bands'].map(chart) },
      { cells: [{ name: 'Orders', query: 'orders', chartType: 'paginated', flex: 12 }] },
    ]), '[]', '', 'csv']), { ok: true });
    const panels = [content(0, 0), content(0, 1), content(0, 2), content(0, 3)];
    const orders = content(1, 0);
    await openDashboard(page, 'Labels');
    await waitDrawn(page, [...panels, orders]);
    await waitRange(page, orders, N);

    // Click label `label` of the chart in `sel`; the table shows what the engine counts for
    // `where`, the filter is the condition and the indicator says it in words.
    const clickLabel = async (sel, query, label, where, condition, words) => {
      await waitDrawn(page, panels);
      await clickAt(page, sel, label);
      const n = countRows(data, where);
      assert.ok(n > 0 && n < N, `${where} selects some rows`);
      await waitRange(page, orders, n);
      assert.equal(await page.evaluate(() => window.chartClickFilter), condition);
      assert.equal(await indicator(page), `Filter: ${words}Clear`);
    };
    // Text that reads as a number stays text: '2.50' is not 2.5 and '007' is not 7, and the
    // column's other values (x9) cause no conversion error.
    await clickLabel(panels[0], 'codes', '2.50', `code = '2.50'`, `"code" = '2.50'`, 'code = 2.50');
    await clickLabel(panels[0], 'codes', '007', `code = '007'`, `"code" = '007'`, 'code = 007');
    // On an integer column the literal is cast to the column's type.
    await clickLabel(panels[1], 'years', '2024', 'year = 2024', `"year" = '2024'`, 'year = 2024');
    await clickLabel(panels[2], 'tags', '', 'tag IS NULL', `"tag" IS NULL`, 'tag is empty');
    await clickLabel(panels[2], 'tags', "it's", `tag = 'it''s'`, `"tag" = 'it''s'`, "tag = it's");
    await clickLabel(panels[2], 'tags', MARKUP, `tag = '${MARKUP}'`, `"tag" = '${MARKUP}'`, `tag = ${MARKUP}`);
    assert.equal(await page.locator('#chartFilterIndicator img').count(), 0);
    assert.equal(await page.evaluate(() => window.__pwned), undefined);
    await page.click('#chartFilterIndicator button');
    await waitRange(page, orders, N);

    // A CASE axis compares the whole expression; its tooltip still works.
    const d = chartData(sql.bands, data);
    assert.equal(await cursor(page, panels[3]), 'pointer');
    await clickLabel(panels[3], 'bands', 'high', 'amount > 20', `(CASE WHEN amount <= 20 THEN 'low' ELSE 'high' END) = 'high'`, 'band = high');
    await pointAt(page, panels[3], await elementAt(page, panels[3], d.labels[0]));
    const tip = `n\n${d.labels[0]}: ${d.series[0][0].toLocaleString('en-US')}`;
    assert.equal(await tipText(page, tip), tip);
    assert.deepEqual(page.__errors || [], []);
  });
});

// Column names as public data sets write them, and computed categories.
const NAMED_CSV =
  'id,Origin State,Wildlife Size,Cost Total $,Flight Date,"say ""hi"""\n' +
  Array.from({ length: 600 }, (_, i) => [i + 1, ['New York', 'Texas', 'Ohio'][i % 3], ['Small', 'Large'][i % 2],
    [0, 150, 2500, 150][i % 4], `2001-03-0${(i % 3) + 1} ${String(i % 24).padStart(2, '0')}:30:00`, ['yes', '"it\'s"'][i % 2]].join(',')).join('\n') + '\n';

test('spaced, quoted and $ column names, a CASE label and a CAST day narrow the tables; an aggregate axis says why not', async () => {
  await withApp({ data: { 'sales.csv': NAMED_CSV } }, async ({ page, server, data }) => {
    const src = `read_csv('${path.join(data, 'sales.csv')}')`;
    const sql = {
      states: `SELECT "Origin State", COUNT(*) AS "n flights" FROM ${src} GROUP BY 1 ORDER BY 1`,
      greetings: `SELECT "say ""hi""" AS greeting, COUNT(*) AS n FROM ${src} GROUP BY 1 ORDER BY 1`,
      costs: `SELECT "Cost Total $", COUNT(*) AS n FROM ${src} GROUP BY 1 ORDER BY 1`,
      sizes: `SELECT CASE WHEN "Wildlife Size" = 'Large' THEN 'big' ELSE 'small' END AS status, COUNT(*) AS n FROM ${src} GROUP BY status ORDER BY status`,
      days: `SELECT CAST("Flight Date" AS DATE) AS day, COUNT(*) AS n FROM ${src} GROUP BY day ORDER BY day`,
      counted: `SELECT COUNT(*) AS n, SUM("Cost Total $") AS total FROM ${src} GROUP BY "Origin State" ORDER BY 1`,
      rows: `SELECT * FROM ${src} ORDER BY id`,
    };
    await storeQueries(server, sql);
    const chart = (query, chartType) => ({ name: query, query, chartType, flex: 4 });
    assert.deepEqual(await server.call('saveDashboardCpp', ['Named', JSON.stringify([
      { cells: [chart('states', 'bar'), chart('greetings', 'bar'), chart('costs', 'bar')] },
      { cells: [chart('sizes', 'pie'), chart('days', 'area'), chart('counted', 'bar')] },
      { cells: [{ name: 'Rows', query: 'rows', chartType: 'paginated', flex: 12 }] },
    ]), '[]', '', 'csv']), { ok: true });
    const table = content(2, 0);
    await openDashboard(page, 'Named');
    await waitDrawn(page, [content(0, 0), content(0, 1), content(0, 2), content(1, 0), content(1, 1), content(1, 2), table]);
    await waitRange(page, table, 600);

    // [panel, label, the rows by hand, the condition, what the indicator says]
    const cases = [
      [content(0, 0), 'Ohio', `"Origin State" = 'Ohio'`, `"Origin State" = 'Ohio'`, 'Origin State = Ohio'],
      [content(0, 1), "it's", `"say ""hi""" = 'it''s'`, `"say ""hi""" = 'it''s'`, "greeting = it's"],
      [content(0, 2), '150', `"Cost Total $" = 150`, `"Cost Total $" = '150'`, 'Cost Total $ = 150'],
      [content(1, 0), 'big', `"Wildlife Size" = 'Large'`, `(CASE WHEN "Wildlife Size" = 'Large' THEN 'big' ELSE 'small' END) = 'big'`,
        'status = big'],
      [content(1, 1), '2001-03-02', `CAST("Flight Date" AS DATE) = DATE '2001-03-02'`, `(CAST("Flight Date" AS DATE)) = '2001-03-02'`,
        'day = 2001-03-02'],
    ];
    const charts = [content(0, 0), content(0, 1), content(0, 2), content(1, 0), content(1, 1), content(1, 2)];
    for (const [sel, label, where, condition, words] of cases) {
      await waitDrawn(page, charts);
      assert.equal(await cursor(page, sel), 'pointer', sel);
      await clickAt(page, sel, label);
      await waitRange(page, table, countRows(data, where));
      assert.equal(await page.evaluate(() => window.chartClickFilter), condition);
      assert.equal(await indicator(page), `Filter: ${words}Clear`);
    }
    await waitDrawn(page, charts);

    // An aggregate category is no condition on rows: no pointer, and hovering says why.
    const counted = content(1, 2);
    assert.equal(await cursor(page, counted), '');
    assert.match(await page.getAttribute(counted, 'title'), /^Not clickable: .*aggregate COUNT\(\)/);
    await page.mouse.move(2, 2);
    await tipText(page, null);
    await pointAt(page, counted, (await chartView(page, counted)).series[0].items[0].at);
    assert.match(await tipText(page), /\nNot clickable: .*aggregate COUNT\(\)/);
    assert.equal(await page.getAttribute(content(0, 0), 'title'), null);
    assert.deepEqual(page.__errors || [], []);
  });
});
