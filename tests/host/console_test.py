"""The web console of `korvane-host serve`, driven in headless Chromium.

Usage: console_test.py KORVANE_HOST SOURCE_DIR. Exits 77 (skipped) only when
Chromium, its driver or Selenium is not installed.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse
import urllib.request
import xml.etree.ElementTree as ET
from xml.sax.saxutils import escape

HOST, SOURCE = sys.argv[1], sys.argv[2]
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import Select, WebDriverWait
except ImportError:
    Service = None
BROWSER, DRIVER = shutil.which('chromium'), shutil.which('chromedriver')

TRICKY = '<b>&"\'\\n'  # the request reader reads a backslash and n as a line feed
STATE = f'''<NorloServer><MessageLog>
  <Message severity="2" date="30CF53CB" source="{escape(TRICKY, {'"': '&quot;'})}" description="x"/>
  <Message severity="0" date="30CF53CB" source="Clock" description="y"/>
</MessageLog></NorloServer>'''


def start_host(work):
    out = os.path.join(work, 'serve.out')
    with open(out, 'w') as stdout:
        process = subprocess.Popen(
            [HOST, 'serve', '--listen', '127.0.0.1:0', '--config',
             f'{SOURCE}/examples/korvane-config.xml', '--events', f'{work}/events.jsonl',
             '--trace-file', f'{work}/trace.log'],
            stdout=stdout, env={**os.environ, 'NORLO_SERVER_STATE': f'{work}/state.xml'})
    for _ in range(100):
        with open(out) as lines:
            match = re.match(r'listening on (\S+)', lines.read())
        if match:
            return process, f'http://{match[1]}'
        time.sleep(0.1)
    process.kill()
    raise RuntimeError('the host did not start')


def request(table, where=()):
    """The oracle: the request written by hand, as one would send it with curl."""
    q = lambda text: '"' + escape(text, {'"': '&quot;', "'": '&apos;'}) + '"'
    predicates = ''.join(
        (f'<logic oper="{g}"/>' if i else '') +
        f'<predicat lparen="{lp}" rparen="{rp}"><target name={q(col)}/>'
        f'<compare oper="{op}"><atom value={q(val)}/></compare></predicat>'
        for i, (g, lp, col, op, val, rp) in enumerate(where))
    return (f'<tesselrequest version="V02.0"><sponsor version="V02.0">test</sponsor><select>'
            f'<output><all/></output><from><db name={q(table)}/></from>'
            f'<where>{predicates}</where></select></tesselrequest>')


def post(url, body):
    with urllib.request.urlopen(url + '/', body.encode()) as answer:
        return ET.fromstring(answer.read())


def rows_of(answer):
    return [[v.text or '' for v in rec.iter('VAL')] for rec in answer.iter('REC')]


@unittest.skipIf(not (Service and BROWSER and DRIVER), 'no Chromium, chromedriver or Selenium')
class Console(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp()
        with open(f'{cls.work}/state.xml', 'w') as state:
            state.write(STATE)
        cls.host, cls.url = start_host(cls.work)
        options = webdriver.ChromeOptions()
        options.binary_location = BROWSER
        for flag in ('--headless=new', '--no-sandbox', '--disable-dev-shm-usage',
                     '--window-size=1400,1000'):
            options.add_argument(flag)
        cls.browser = webdriver.Chrome(service=Service(DRIVER), options=options)

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        cls.host.terminate()
        cls.host.wait()
        shutil.rmtree(cls.work)

    def rendered(self):
        return int(self.browser.find_element(By.TAG_NAME, 'body').get_attribute('data-rendered'))

    def act(self, action):
        """Runs `action` and waits for the page to show the answer it asked for."""
        before = self.rendered()
        action()
        WebDriverWait(self.browser, 10).until(lambda _: self.rendered() > before)

    def open(self, view):
        self.browser.get(self.url + '/')
        self.act(lambda: self.browser.get(
            self.url + '/#' + urllib.parse.quote(json.dumps(view))))

    def text(self, element_id):
        return self.browser.find_element(By.ID, element_id).text

    def click(self, element_id):
        """Clicks the element and waits for the answer it asked for."""
        self.act(self.browser.find_element(By.ID, element_id).click)

    def all(self, css):
        return self.browser.find_elements(By.CSS_SELECTOR, css)

    def cells(self):
        return [[td.text for td in tr.find_elements(By.TAG_NAME, 'td')]
                for tr in self.all('#result tbody tr')]

    def test_catalogue_lists_every_table(self):
        self.browser.get(self.url + '/')
        define = post(self.url, request('Define'))
        names = [ET.fromstring(row[0]).findtext('MethodName') for row in rows_of(define)]
        WebDriverWait(self.browser, 10).until(lambda _: 'tables' in self.text('catalogue-status'))
        self.assertEqual([a.text for a in self.all('#catalogue-list a')], names)
        self.assertEqual(len(names), 4)

    def test_filters_narrow_rows_as_the_same_where_clause_does(self):
        cases = [  # (logic, lparen, column, operator, value, rparen)... -> names kept
            ([('', 0, 'Name', 'LIKE', 'D*', 0)], ['Dalkah', 'Delmor']),
            ([('', 0, 'Name', 'LIKE', '*h', 0), ('AND', 1, 'Age', 'GREATER', '2001', 0),
              ('OR', 0, 'Age', 'EQUAL', '0', 1)], ['like *h']),
            ([('', 0, 'Age', 'WITHINSET', '1-10,35', 0), ('AND', 0, 'Name', 'NOTLIKE', '<*', 0),
              ('AND', 0, 'Age', 'NEQ', '3', 0)], ['Delmor']),
            ([('', 0, 'Name', 'EQUAL', '<XML>&<safe\'s>"test"', 0)], ['<XML>&<safe\'s>"test"']),
            ([('', 0, 'Age', 'LESS', '3', 0), ('OR', 0, 'Age', 'GREATEQ', '342', 0),
              ('AND', 0, 'Age', 'UNIQUE', '', 0)], ['Dalkah', 'Name unique', 'Everybody']),
            ([('', 0, 'Age', 'LEQ', '212', 0), ('AND', 0, 'Age', 'GREATER', '35', 0),
              ('AND', 0, 'Name', 'NOTINSET', 'QRT', 0)], ['USA']),
        ]
        for where, names in cases:
            with self.subTest(where=where):
                self.open({'t': 'Sample Age'})
                for i, (logic, lp, column, operator, value, rp) in enumerate(where):
                    self.browser.find_element(By.ID, 'where-add').click()
                    row = self.all('.where-row')[i]
                    if logic:
                        Select(row.find_element(By.CLASS_NAME, 'logic')).select_by_visible_text(logic)
                    Select(row.find_element(By.CLASS_NAME, 'lparen')).select_by_index(lp)
                    row.find_element(By.CLASS_NAME, 'column').send_keys(column)
                    Select(row.find_element(By.CLASS_NAME, 'operator')).select_by_visible_text(operator)
                    row.find_element(By.CLASS_NAME, 'value').send_keys(value)
                    Select(row.find_element(By.CLASS_NAME, 'rparen')).select_by_index(rp)
                self.click('apply')
                expected = rows_of(post(self.url, request('Sample Age', where)))
                self.assertEqual([row[0] for row in expected], names)
                self.assertEqual(self.cells(), expected)
                self.assertEqual(self.text('row-count'), f'{len(names)} row' + 's' * (len(names) > 1))
                self.browser.refresh()  # the address holds the view
                WebDriverWait(self.browser, 10).until(lambda _: self.rendered() > 0)
                self.assertEqual(self.cells(), expected)

    def test_columns_types_and_sorting(self):
        self.open({'t': 'Sample Age'})
        age = self.browser.find_element(By.CSS_SELECTOR, '#result th:nth-child(2)')
        self.assertEqual(age.get_attribute('title'), 'uint32')
        age.find_element(By.TAG_NAME, 'button').click()
        ages = [int(row[1]) for row in self.cells()]
        self.assertEqual(ages, sorted(ages))
        self.all('#result th:nth-child(2) button')[0].click()
        self.assertEqual([int(row[1]) for row in self.cells()], sorted(ages, reverse=True))
        self.all('#column-choices input[value="Name"]')[0].click()
        self.click('apply')
        self.assertEqual([(th.text, th.get_attribute('aria-sort')) for th in self.all('#result th')],
                         [('Age', 'descending')])
        self.assertEqual(len(self.cells()), 18)

    def test_a_link_is_followed_as_it_stands_and_back_returns(self):
        self.open({'t': 'Sample Age'})
        self.assertEqual(self.text('row-count'), '18 rows')
        answer = ET.fromstring(self.browser.find_element(By.ID, 'response-text').get_attribute(
            'textContent').encode())
        link = next(v.get('LINK') for v in answer.iter('VAL') if v.text == 'Name withinset Delmor,QRT')
        self.act(self.browser.find_element(By.LINK_TEXT, 'Name withinset Delmor,QRT').click)
        self.assertEqual(self.text('title'), 'Sample Age Detail')
        self.assertEqual(self.browser.find_element(By.ID, 'request-text').get_attribute('textContent'),
                         link)
        self.assertEqual(self.cells(), rows_of(post(self.url, link))[:2])
        self.assertEqual([row[0] for row in self.cells()], ['Delmor', 'QRT'])
        self.assertEqual([li.text for li in self.all('#trail li')], ['Sample Age', 'Sample Age Detail'])
        self.act(self.browser.back)
        self.assertEqual((self.text('title'), self.text('row-count')), ('Sample Age', '18 rows'))

    def test_values_are_text_and_errors_show_their_block(self):
        self.open({'t': 'Norlo Server - Message Log'})
        self.assertEqual([row[:3] for row in self.cells()],
                         [[r[0], r[1], r[2]] for r in rows_of(post(self.url, request(
                             'Norlo Server - Message Log')))])
        self.assertEqual(self.cells()[0][2], TRICKY)
        self.assertEqual(self.all('#result b'), [])
        self.assertEqual([td.get_attribute('class') for td in self.all('#result td:first-child')],
                         ['severity-error', 'severity-info'])
        self.open({'t': 'Norlo Server - Message Log',
                   'w': [{'col': 'Source', 'op': 'EQUAL', 'val': TRICKY}]})
        self.assertEqual([row[2] for row in self.cells()], [TRICKY])

        self.browser.find_element(By.ID, 'open-name').send_keys('No <such> table')
        self.act(self.all('#open-form button')[0].click)
        error = post(self.url, request('No <such> table')).find('ERROR')
        self.assertTrue(self.browser.find_element(By.ID, 'error').is_displayed())
        self.assertFalse(self.browser.find_element(By.ID, 'result').is_displayed())
        self.assertEqual([self.text('error-code'), self.text('error-desc'), self.text('error-lines')],
                         ['Error ' + error.findtext('CODE'), error.findtext('DESC'),
                          error.findtext('TROUBLESHOOTING')])
        self.assertEqual(error.findtext('TROUBLESHOOTING'), 'No <such> table')
        violations = [e for e in self.browser.get_log('browser') if 'Content Security' in e['message']]
        self.assertEqual(violations, [])

    def test_served_files_stay_on_this_host(self):
        # Their headers, and the console turned off, are in the HTTP transcript.
        for path in ('/', '/console.js', '/console.css'):
            with urllib.request.urlopen(self.url + path) as answer:
                body = answer.read().decode()
                self.assertIsNone(re.search(r'(?i)\b(?:https?|ftp|wss?):|//[a-z0-9]', body), path)


if __name__ == '__main__':
    result = unittest.main(argv=sys.argv[:1], exit=False).result
    sys.exit(77 if result.skipped and not result.testsRun - len(result.skipped) else
             0 if result.wasSuccessful() else 1)
