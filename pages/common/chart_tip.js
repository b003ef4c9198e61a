// The pointer tooltip of a page's charts: one element per id, made on first use. Both pages
// show the same parts from chartTipParts, with the same look (class chart-tip).

const CHART_TIP_DX = 14;
const CHART_TIP_DY = 10;

function chartTipElement(id) {
  let tip = document.getElementById(id);
  if (!tip) {
    tip = document.createElement('div');
    tip.id = id;
    tip.className = 'chart-tip';
    document.body.appendChild(tip);
  }
  return tip;
}

function chartTipHide(id) {
  const tip = document.getElementById(id);
  if (tip) tip.style.display = 'none';
}

// Texts go in as text nodes: labels and series names come from the data.
function chartTipShow(id, type, hit, clientX, clientY) {
  const parts = chartTipParts(type, hit);
  const tip = chartTipElement(id);
  tip.textContent = '';
  if (parts.title !== null) {
    const title = document.createElement('span');
    title.style.color = parts.color;
    title.textContent = parts.title;
    tip.append(title, document.createElement('br'));
  }
  const value = document.createElement('b');
  value.textContent = parts.value;
  tip.append(parts.label + ': ', value);
  if (parts.pct) tip.append(' (' + parts.pct + ')');
  tip.style.left = clientX + CHART_TIP_DX + 'px';
  tip.style.top = clientY - CHART_TIP_DY + 'px';
  tip.style.display = 'block';
}
