// The media server as a control point that nobody here wrote sees it: goupnp reaches the device
// by its description URL and calls its actions; Go's own XML parser reads the DIDL-Lite. Every
// Search is compared with the rows that `mysearchcriteria search` selects for the same criteria,
// sort and container, so the two front-ends of the host layer must agree.
//
//	controlpoint DESCRIPTION-URL CLI CASES-DIR TABLE...
//	controlpoint -strict DESCRIPTION-URL CASES-DIR   (a server started with --strict)
//
// TABLE files are tab-separated with a header line; their criteria column (and container and
// sort columns, where they have them) give the searches compared. Prints one line per failed
// check and exits with 1 if any failed.
package main

import (
	"bytes"
	"encoding/xml"
	"fmt"
	"io"
	"net/http"
	"net/url"
	"os"
	"os/exec"
	"path/filepath"
	"reflect"
	"strings"
	"sync"
	"sync/atomic"
	"time"

	"github.com/huin/goupnp/dcps/av1"
)

const serviceType = "urn:schemas-upnp-org:service:ContentDirectory:1"

var failures int64

func fail(format string, args ...interface{}) {
	atomic.AddInt64(&failures, 1) // Also from the 200 requests at once.
	fmt.Printf("FAIL: "+format+"\n", args...)
}

type row map[string]string

// readTable reads a tab-separated file whose first line that is no '#' comment names the columns.
func readTable(path string) (rows []row) {
	data, err := os.ReadFile(path)
	if err != nil {
		fail("%v", err)
	}
	var header []string
	for n, line := range strings.Split(strings.TrimSuffix(string(data), "\n"), "\n") {
		if fields := strings.Split(line, "\t"); header == nil && !strings.HasPrefix(line, "#") {
			header = fields
		} else if !strings.HasPrefix(line, "#") {
			r := row{"at": fmt.Sprintf("%s:%d", filepath.Base(path), n+1)}
			for i := 0; i < len(header) && i < len(fields); i++ {
				r[header[i]] = fields[i]
			}
			rows = append(rows, r)
		}
	}
	return rows
}

// cliIds returns the object ids `mysearchcriteria search` prints, in its order; false when it
// refuses the criteria or the sort text.
func cliIds(cli string, args ...string) (ids []string, ok bool) {
	out, err := exec.Command(cli, append([]string{"search", "--show", "object_id"}, args...)...).Output()
	if err != nil {
		return nil, false
	}
	// The rows sit between the rule under the column name and the "N rows in T ms" line.
	lines := strings.Split(string(out), "\n")
	for i, line := range lines {
		if strings.HasPrefix(line, "---") {
			return lines[i+1 : len(lines)-2], true
		}
	}
	return nil, false
}

// didlIds returns the ids of the objects of a DIDL-Lite text in document order; each must have a
// title and a class.
func didlIds(text string) ([]string, error) {
	var didl struct {
		XMLName xml.Name `xml:"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/ DIDL-Lite"`
		Objects []struct {
			ID    string `xml:"id,attr"`
			Title string `xml:"http://purl.org/dc/elements/1.1/ title"`
			Class string `xml:"urn:schemas-upnp-org:metadata-1-0/upnp/ class"`
		} `xml:",any"`
	}
	if err := xml.Unmarshal([]byte(text), &didl); err != nil {
		return nil, err
	}
	ids := []string{}
	for _, o := range didl.Objects {
		if o.Title == "" || o.Class == "" {
			return nil, fmt.Errorf("object %q lacks dc:title or upnp:class", o.ID)
		}
		ids = append(ids, o.ID)
	}
	return ids, nil
}

// call posts one action with its arguments in order, the envelope written with encoding/xml, and
// returns the HTTP status, the UPnP error code of a fault (0 for none) and the body.
func call(endpoint, action string, args [][2]string) (int, int, []byte, error) {
	var body bytes.Buffer
	fmt.Fprintf(&body, `<?xml version="1.0"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/"><s:Body><u:%s xmlns:u="%s">`, action, serviceType)
	encoder := xml.NewEncoder(&body)
	for _, arg := range args {
		encoder.EncodeElement(arg[1], xml.StartElement{Name: xml.Name{Local: arg[0]}})
	}
	encoder.Flush()
	fmt.Fprintf(&body, `</u:%s></s:Body></s:Envelope>`, action)
	return post(endpoint, action, body.Bytes())
}

func post(endpoint, action string, body []byte) (int, int, []byte, error) {
	request, _ := http.NewRequest("POST", endpoint, bytes.NewReader(body))
	request.Header.Set("Content-Type", `text/xml; charset="utf-8"`)
	request.Header.Set("SOAPACTION", `"`+serviceType+"#"+action+`"`)
	response, err := (&http.Client{Timeout: 60 * time.Second}).Do(request)
	if err != nil {
		return 0, 0, nil, err
	}
	defer response.Body.Close()
	answer, _ := io.ReadAll(response.Body)
	var fault struct {
		Code int `xml:"Body>Fault>detail>UPnPError>errorCode"`
	}
	xml.Unmarshal(answer, &fault)
	return response.StatusCode, fault.Code, answer, nil
}

func search(container, criteria, filter, start, count, sort string) [][2]string {
	return [][2]string{{"ContainerID", container}, {"SearchCriteria", criteria}, {"Filter", filter},
		{"StartingIndex", start}, {"RequestedCount", count}, {"SortCriteria", sort}}
}

// expectError: the request fails with 'code' (0: it succeeds).
func expectError(endpoint, what string, code int, args [][2]string) {
	if _, got, body, err := call(endpoint, "Search", args); err != nil || got != code {
		fail("%s: error %d, want %d (%v): %.300s", what, got, code, err, body)
	}
}

// serverIds returns the ids the server answers a row's Search (or its Browse of a container's
// children) with, in pages of 'page' objects (0: in one answer), checking NumberReturned and that
// each page counts the whole answer.
func serverIds(cd *av1.ContentDirectory1, r row, container string, page uint32) (ids []string, total uint32, err error) {
	ids = []string{}
	for start := uint32(0); ; start += page {
		result, returned, pageTotal, _, err := cd.Search(container, r["criteria"], "*", start, page, r["sort"])
		if r["browse"] != "" {
			result, returned, pageTotal, _, err = cd.Browse(r["browse"], "BrowseDirectChildren", "*", start, page, r["sort"])
		}
		got, perr := didlIds(result)
		if err == nil && perr == nil && (int(returned) != len(got) || (page > 0 && len(got) > int(page)) || (start > 0 && pageTotal != total)) {
			perr = fmt.Errorf("at %d: %d returned, %d objects, %d of %d", start, returned, len(got), pageTotal, total)
		}
		if err != nil || perr != nil {
			return nil, 0, fmt.Errorf("%v %v", err, perr)
		}
		if ids, total = append(ids, got...), pageTotal; page == 0 || start+page >= total {
			return ids, total, nil
		}
	}
}

// compareSearches: the server returns the ids the command line selects, in its order (in pages
// where a row has a page size), with the right counts; a criteria or sort text that one refuses
// the other refuses with 708 or 709. A row that names a container to browse compares its children
// with the command line's answer to the row's criteria.
func compareSearches(cd *av1.ContentDirectory1, endpoint, cli string, rows []row) {
	for _, r := range rows {
		criteria, container, sort := r["criteria"], r["container"], r["sort"]
		if container == "" {
			container = "0"
		}
		args := []string{"--container", container, criteria}
		if sort != "" {
			args = append([]string{"--sort", sort}, args...)
		}
		want, ok := cliIds(cli, args...)
		if !ok {
			_, code, _, _ := call(endpoint, "Search", search(container, criteria, "*", "0", "0", sort))
			if code != 708 && code != 709 {
				fail("%s: the command line refuses %q, the server answers with error %d", r["at"], criteria, code)
			}
			continue
		}
		var page int
		fmt.Sscan(r["page"], &page)
		got, total, err := serverIds(cd, r, container, uint32(page))
		if err != nil || !reflect.DeepEqual(got, want) || int(total) != len(want) {
			fail("%s: %q sorted %q: %v: server %d of %d ids %.200v, command line %d ids %.200v", r["at"], criteria,
				sort, err, len(got), total, got, len(want), want)
		}
	}
}

// checkMetadata: BrowseMetadata of an object answers with that one object.
func checkMetadata(cd *av1.ContentDirectory1, id string) {
	result, returned, total, _, err := cd.Browse(id, "BrowseMetadata", "*", 0, 0, "")
	if got, perr := didlIds(result); err != nil || perr != nil || !reflect.DeepEqual(got, []string{id}) || returned != 1 || total != 1 {
		fail("browse metadata %s: %v %v: got %v", id, err, perr, got)
	}
}

// checkFilters runs serve-filters.tsv: what the DIDL-Lite of a Filter must hold, and (after a
// '-') must not.
func checkFilters(endpoint string, rows []row) {
	for _, r := range rows {
		status, code, body, err := call(endpoint, "Search", search("0", r["criteria"], r["filter"], "0", "0", ""))
		var answer struct {
			Result string `xml:"Body>SearchResponse>Result"`
		}
		if xml.Unmarshal(body, &answer); err != nil || status != 200 || code != 0 {
			fail("%s: %v %d %d", r["at"], err, status, code)
		}
		for _, text := range strings.Split(r["texts"], "|") {
			if lacks := strings.HasPrefix(text, "-"); len(text) > 1 && strings.Contains(answer.Result, strings.TrimPrefix(text, "-")) == lacks {
				fail("%s: %s in %.300s", r["at"], text, answer.Result)
			}
		}
	}
}

// checkFaults runs the rows of serve-faults.tsv for the server, the default one or a --strict
// one; after each fault the server must answer a plain request.
func checkFaults(cd *av1.ContentDirectory1, endpoint, server string, rows []row) {
	for _, r := range rows {
		if r["server"] != server {
			continue
		}
		var args [][2]string
		for _, name := range strings.Split(r["arguments"], ",") {
			args = append(args, [2]string{name, r[name]})
		}
		if _, code, body, err := call(endpoint, r["action"], args); err != nil || fmt.Sprint(code) != r["error"] {
			fail("%s: %s: error %d (%v), want %s: %.300s", r["at"], r["what"], code, err, r["error"], body)
		}
		if _, _, _, _, err := cd.Search("0", "*", "*", 0, 1, ""); err != nil {
			fail("%s: the next request: %v", r["at"], err)
		}
	}
}

// checkHostile: huge, malformed and entity-laden requests and 200 at once get faults or answers,
// and the server answers a plain request afterwards.
func checkHostile(cd *av1.ContentDirectory1, endpoint string) {
	huge := strings.Repeat("a", 1<<20)
	expectError(endpoint, "1 MiB criteria", 0, search("0", `dc:title = "`+huge+`"`, "*", "0", "0", ""))
	// SQLite evaluates no LIKE pattern past 50,000 bytes: the database's refusal is "action failed".
	expectError(endpoint, "1 MiB contains", 501, search("0", `dc:title contains "`+huge+`"`, "*", "0", "0", ""))
	expectError(endpoint, "1 MiB of parentheses", 708, search("0", strings.Repeat("(", 1<<20), "*", "0", "0", ""))
	if status, _, _, err := call(endpoint, "Search", search("0", huge+huge+huge, "*", "0", "0", "")); err == nil && status != 413 {
		fail("3 MiB body: HTTP %d, want 413", status)
	}
	// Ten entities of ten of the one before: a billion bytes if a parser expanded them.
	entities := `<!ENTITY a "aaaaaaaaaa">`
	for c := 'b'; c <= 'i'; c++ {
		entities += fmt.Sprintf(`<!ENTITY %c "%s">`, c, strings.Repeat(fmt.Sprintf("&%c;", c-1), 10))
	}
	for what, body := range map[string]string{
		"entity expansion": `<?xml version="1.0"?><!DOCTYPE s:Envelope [` + entities + `]><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/"><s:Body><u:Search xmlns:u="` +
			serviceType + `"><ContainerID>0</ContainerID><SearchCriteria>dc:title contains "&i;"</SearchCriteria><Filter>*</Filter><StartingIndex>0</StartingIndex><RequestedCount>1</RequestedCount><SortCriteria></SortCriteria></u:Search></s:Body></s:Envelope>`,
		"malformed SOAP": `<s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/"><s:Body><u:Search xmlns:u="` + serviceType + `"><ContainerID>0</Contai`,
		"not XML":        "\x00\xff<<<&&&",
		"no body":        "",
	} {
		start := time.Now()
		if status, code, answer, err := post(endpoint, "Search", []byte(body)); err != nil || status == 200 || time.Since(start) > 10*time.Second {
			fail("%s: HTTP %d, error %d, %v after %v: %.200s", what, status, code, err, time.Since(start), answer)
		}
	}
	var wait sync.WaitGroup
	for i := 0; i < 200; i++ {
		wait.Add(1)
		go func(i int) {
			defer wait.Done()
			// Answered, or turned away with 501 when too many wait.
			status, code, _, err := call(endpoint, "Search", search("0", fmt.Sprintf(`dc:title contains "%c"`, 'a'+i%26), "*", "0", "10", ""))
			if err != nil || (status != 200 && code != 501) {
				fail("200 at once: HTTP %d, error %d, %v", status, code, err)
			}
		}(i)
	}
	wait.Wait()
	if _, _, _, _, err := cd.Search("0", "*", "*", 0, 1, ""); err != nil {
		fail("after the hostile requests: %v", err)
	}
}

func connect(location string) (*av1.ContentDirectory1, string) {
	address, _ := url.Parse(location)
	directories, err := av1.NewContentDirectory1ClientsByURL(address)
	if err != nil || len(directories) != 1 {
		fmt.Println("no ContentDirectory:", err)
		os.Exit(1)
	}
	return directories[0], directories[0].ServiceClient.SOAPClient.EndpointURL.String()
}

func main() {
	if len(os.Args) == 4 && os.Args[1] == "-strict" {
		cd, endpoint := connect(os.Args[2])
		checkFaults(cd, endpoint, "strict", readTable(filepath.Join(os.Args[3], "serve-faults.tsv")))
	} else if len(os.Args) >= 4 {
		cd, endpoint := connect(os.Args[1])
		cli, cases := os.Args[2], os.Args[3]
		var rows []row
		for _, table := range os.Args[4:] {
			rows = append(rows, readTable(table)...)
		}
		compareSearches(cd, endpoint, cli, rows)
		for _, id := range []string{"0", "A0$128", "A0$128$130$6619266"} {
			checkMetadata(cd, id)
		}
		checkFilters(endpoint, readTable(filepath.Join(cases, "serve-filters.tsv")))
		checkFaults(cd, endpoint, "", readTable(filepath.Join(cases, "serve-faults.tsv")))
		// The capabilities are the command line's for the same options.
		out, err := exec.Command(cli, "caps").Output()
		searchCaps, _ := cd.GetSearchCapabilities()
		sortCaps, _ := cd.GetSortCapabilities()
		if want := fmt.Sprintf("search: %s\nsort: %s\n", searchCaps, sortCaps); err != nil || string(out) != want || searchCaps == "" {
			fail("capabilities: the server's %q, the command line's %q (%v)", want, out, err)
		}
		managers, err := av1.NewConnectionManager1ClientsByURL(cd.Location)
		if err != nil || len(managers) != 1 {
			fail("no ConnectionManager: %v", err)
		} else if source, _, err := managers[0].GetProtocolInfo(); err != nil || !strings.Contains(source, "http-get:*:audio/mpeg:*") {
			fail("GetProtocolInfo: %q %v", source, err)
		} else if ids, err := managers[0].GetCurrentConnectionIDs(); err != nil || ids != "0" {
			fail("GetCurrentConnectionIDs: %q %v", ids, err)
		}
		checkHostile(cd, endpoint)
		fmt.Printf("%d searches compared\n", len(rows))
	} else {
		fmt.Fprintln(os.Stderr, "usage: controlpoint DESCRIPTION-URL CLI CASES-DIR TABLE... | -strict DESCRIPTION-URL CASES-DIR")
		os.Exit(2)
	}
	if failures > 0 {
		fmt.Printf("%d checks failed\n", failures)
		os.Exit(1)
	}
}
