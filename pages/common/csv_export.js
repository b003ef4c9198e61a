// "⬇ CSV" of a paginated table: the engine writes every row of the statement the table pages
// through to a file the user chooses; only a failure is reported.
async function exportPagedCsv(sql) {
  let res;
  try {
    res = await exportToCsvCpp(pagedBaseSql(sql));
  } catch (e) {
    res = { error: String((e && e.message) || e) };
  }
  if (res && res.error) alert('Export failed: ' + res.error);
}
