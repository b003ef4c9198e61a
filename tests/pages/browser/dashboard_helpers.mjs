// Shared by the dashboard browser suites: generated sales data, storing queries and dashboards
// through the bridge, opening the Dashboards tab, choosing a dashboard and reading its panels.
import assert from 'node:assert/strict';

export const REGIONS = ['north', 'south', 'east', "o'west"];
export const SALES_CSV =
  'id,region,amount,day\n' +
  Array.from({ length: 1234 }, (_, i) =>
    `${i + 1},${REGIONS[i % 4].includes("'") ? '"' + REGIONS[i % 4] + '"' : REGIONS[i % 4]},${(i % 50) + 1},2024-0${(i % 9) + 1}-15`
  ).join('\n') + '\n';

export async function storeQuery(server, name, sql) {
  assert.equal(await server.call('saveQueryCpp', [name, sql]), 'ok');
}

export async function storeDashboard(server, name, rows, folder = '', fileType = 'csv') {
  const reply = await server.call('saveDashboardCpp', [name, JSON.stringify(rows), '[]', folder, fileType]);
  assert.deepEqual(reply, { ok: true });
}

// Opens the Dashboards tab; the dropdown is filled once the page has started.
export async function openDashboards(page) {
  await page.click('#tab-coming');
  await page.waitForSelector('#pane-coming #dashboardDropdown');
  await page.waitForFunction(() => document.getElementById('dashboardDropdown').options.length > 0);
}

export async function choose(page, name) {
  await page.selectOption('#dashboardDropdown', name);
  await page.waitForFunction((n) => {
    const t = document.querySelector('#dashboardPreview .dash-title');
    return t && t.textContent === n;
  }, name);
}

export const content = (r, c) => `.preview-panel[data-row="${r}"][data-col="${c}"] .panel-content`;

// Waits until a panel shows something other than its loading bar; returns its text.
export async function panelText(page, r, c) {
  const sel = content(r, c);
  await page.waitForFunction((s) => {
    const el = document.querySelector(s);
    return el && !el.querySelector('.dash-loading') && el.textContent.trim() !== '';
  }, sel);
  return page.textContent(sel);
}
