// Load on the media server: Search requests over loopback from 1, 8 and 32 concurrent clients,
// each sending the criteria of a table in turn, as fast as the answers come. Prints requests per
// second and the 50th and 99th percentile of the latency for each number of clients.
//
//	serveload -url DESCRIPTION-URL -criteria TABLE [-clients 1,8,32] [-seconds 10] [-count 50]
package main

import (
	"bufio"
	"bytes"
	"encoding/xml"
	"flag"
	"fmt"
	"io"
	"net/http"
	"net/url"
	"os"
	"sort"
	"strconv"
	"strings"
	"sync"
	"sync/atomic"
	"time"

	"github.com/huin/goupnp/dcps/av1"
)

const serviceType = "urn:schemas-upnp-org:service:ContentDirectory:1"

// readCriteria returns the criteria column of a tab-separated table with a header line.
func readCriteria(path string) ([]string, error) {
	file, err := os.Open(path)
	if err != nil {
		return nil, err
	}
	defer file.Close()
	var criteria []string
	column := -1
	scanner := bufio.NewScanner(file)
	for scanner.Scan() {
		fields := strings.Split(scanner.Text(), "\t")
		if strings.HasPrefix(fields[0], "#") {
			continue
		}
		if column < 0 {
			for i, name := range fields {
				if name == "criteria" {
					column = i
				}
			}
			continue
		}
		if column < len(fields) {
			criteria = append(criteria, fields[column])
		}
	}
	return criteria, nil
}

// envelope writes one Search request with encoding/xml.
func envelope(criteria string, count int) []byte {
	var body bytes.Buffer
	body.WriteString(`<?xml version="1.0"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" s:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body><u:Search xmlns:u="` + serviceType + `">`)
	encoder := xml.NewEncoder(&body)
	for _, arg := range [][2]string{{"ContainerID", "0"}, {"SearchCriteria", criteria}, {"Filter", "*"},
		{"StartingIndex", "0"}, {"RequestedCount", strconv.Itoa(count)}, {"SortCriteria", ""}} {
		encoder.EncodeElement(arg[1], xml.StartElement{Name: xml.Name{Local: arg[0]}})
	}
	encoder.Flush()
	body.WriteString(`</u:Search></s:Body></s:Envelope>`)
	return body.Bytes()
}

func main() {
	location := flag.String("url", "", "the server's description URL")
	table := flag.String("criteria", "", "a table with a criteria column")
	clientList := flag.String("clients", "1,8,32", "numbers of concurrent clients")
	seconds := flag.Float64("seconds", 10, "seconds per number of clients")
	count := flag.Int("count", 50, "RequestedCount of each Search")
	flag.Parse()
	base, err := url.Parse(*location)
	if err != nil {
		fmt.Fprintln(os.Stderr, err)
		os.Exit(1)
	}
	directories, err := av1.NewContentDirectory1ClientsByURL(base)
	if err != nil || len(directories) != 1 {
		fmt.Fprintln(os.Stderr, "no ContentDirectory:", err)
		os.Exit(1)
	}
	endpoint := directories[0].ServiceClient.SOAPClient.EndpointURL.String()
	criteria, err := readCriteria(*table)
	if err != nil || len(criteria) == 0 {
		fmt.Fprintln(os.Stderr, "no criteria:", err)
		os.Exit(1)
	}
	bodies := make([][]byte, len(criteria))
	for i, c := range criteria {
		bodies[i] = envelope(c, *count)
	}

	fmt.Printf("%-8s %10s %9s %9s %7s\n", "clients", "requests/s", "p50 ms", "p99 ms", "faults")
	for _, field := range strings.Split(*clientList, ",") {
		clients, _ := strconv.Atoi(field)
		transport := &http.Transport{MaxIdleConnsPerHost: clients}
		var next, faults int64
		var mutex sync.Mutex
		var latencies []time.Duration
		var wait sync.WaitGroup
		deadline := time.Now().Add(time.Duration(*seconds * float64(time.Second)))
		start := time.Now()
		for c := 0; c < clients; c++ {
			wait.Add(1)
			go func() {
				defer wait.Done()
				client := http.Client{Transport: transport}
				var mine []time.Duration
				for time.Now().Before(deadline) {
					body := bodies[atomic.AddInt64(&next, 1)%int64(len(bodies))]
					request, _ := http.NewRequest("POST", endpoint, bytes.NewReader(body))
					request.Header.Set("Content-Type", `text/xml; charset="utf-8"`)
					request.Header.Set("SOAPACTION", `"`+serviceType+`#Search"`)
					sent := time.Now()
					response, err := client.Do(request)
					if err != nil {
						fmt.Fprintln(os.Stderr, err)
						os.Exit(1)
					}
					io.Copy(io.Discard, response.Body)
					response.Body.Close()
					mine = append(mine, time.Since(sent))
					if response.StatusCode != 200 {
						atomic.AddInt64(&faults, 1)
					}
				}
				mutex.Lock()
				latencies = append(latencies, mine...)
				mutex.Unlock()
			}()
		}
		wait.Wait()
		elapsed := time.Since(start)
		sort.Slice(latencies, func(i, j int) bool { return latencies[i] < latencies[j] })
		percentile := func(p float64) float64 {
			return float64(latencies[int(p*float64(len(latencies)-1))]) / 1e6
		}
		fmt.Printf("%-8d %10.0f %9.2f %9.2f %7d\n", clients, float64(len(latencies))/elapsed.Seconds(),
			percentile(0.50), percentile(0.99), faults)
	}
}
