// Page start: the dropdown lists the stored dashboards and nothing is selected.
window.dashLoadDashboardList();
